#include "RegistryScope.h"
#include "app/ReportMetric.h"
#include "app/RunRecords.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
TEST(ReportMetric, NullRecordIsAPointerError)
{
    EXPECT_EQ(E_POINTER, ReportMetric(nullptr));
}

TEST(ReportMetric, UnregisteredSaxReaderFailsTheReport)
{
    const CHiddenRegistryKey hidden(HKEY_LOCAL_MACHINE, kSaxReaderClassKey);
    ASSERT_TRUE(hidden.Hidden());
    EXPECT_EQ(E_FAIL, ReportMetric(MakeDownloadedRecord(L"S").release()));
    EXPECT_EQ(E_FAIL, ReportMetric(MakeInstalledRecord(L"S").release()));
}

// A null template is null text to the string layer: the report fails as one
// that raised, before anything is sent.
TEST(ReportMetric, NullMessageTemplateFailsTheReportUnexpectedly)
{
    auto record = MakeDownloadedRecord(L"S");
    record->messageTemplate = nullptr;
    EXPECT_EQ(E_UNEXPECTED, ReportMetric(record.release()));
}

TEST(ReportMetric, ComApartmentThatCannotBeHadEndsTheReport)
{
    // A thread already in the multithreaded apartment cannot enter a
    // single-threaded one.
    HRESULT result = S_OK;
    std::thread worker([&result] {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        result = ReportMetric(MakeDownloadedRecord(L"S").release());
        CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(E_UNEXPECTED, result);
}
} // namespace
