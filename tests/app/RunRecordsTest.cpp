#include "app/RunRecords.h"
#include "metrics/MessageTemplates.h"

#include <gtest/gtest.h>

namespace
{
TEST(RunRecords, TheRunsTwoRecords)
{
    std::wstring session = L"{11111111-2222-3333-4444-555555555555}";
    const auto downloaded = MakeDownloadedRecord(session);
    const auto installed = MakeInstalledRecord(session);
    session[1] = L'9'; // the records hold copies

    const struct
    {
        const MetricRequest* record;
        int resultId;
        const char* messageTemplate;
        const wchar_t* soapAction;
    } cases[] = {
        {downloaded.get(), 0, kCountUpdateDownloadedTemplate, kCountUpdateDownloadedSoapAction},
        {installed.get(), 8, kCountUpdateInstalledTemplate, kCountUpdateInstalledSoapAction},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(11, c.record->packageId);
        EXPECT_EQ(c.resultId, c.record->resultId);
        EXPECT_STREQ(L"{11111111-2222-3333-4444-555555555555}", c.record->session.get());
        EXPECT_FALSE(c.record->browser);
        EXPECT_EQ(c.messageTemplate, c.record->messageTemplate);
        EXPECT_EQ(c.soapAction, c.record->soapAction);
        EXPECT_EQ(0, c.record->language + c.record->country + c.record->os + c.record->toolcode);
    }
}

TEST(RunRecords, EmptyIdentifierGivesAnEmptyNotAbsentSession)
{
    const auto record = MakeDownloadedRecord(L"");
    ASSERT_TRUE(record->session);
    EXPECT_EQ(0u, SysStringLen(record->session.get()));
}

TEST(MetricRequest, NewRecordHoldsNothingAndFreesOnlyItself)
{
    // A bad free would show as a heap error, which fails the test run.
    auto record = std::make_unique<MetricRequest>();
    EXPECT_FALSE(record->browser);
    EXPECT_FALSE(record->session);
    EXPECT_EQ(nullptr, record->messageTemplate);
    EXPECT_EQ(nullptr, record->soapAction);
    EXPECT_EQ(0, record->packageId | record->resultId | record->language | record->country |
                     record->os | record->toolcode);
    record.reset();

    record = std::make_unique<MetricRequest>();
    record->browser.reset(SysAllocString(L"browser"));
    EXPECT_TRUE(record->browser);
    EXPECT_FALSE(record->session);
}
} // namespace
