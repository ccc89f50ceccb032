#include "app/RunRecords.h"

#include "common/StringError.h"
#include "metrics/MessageTemplates.h"

namespace
{
constexpr std::int32_t kUpdatePackageId = 11;
constexpr std::int32_t kDownloadedResultId = 0;
constexpr std::int32_t kInstalledResultId = 8;

std::unique_ptr<MetricRequest> MakeRecord(const std::wstring& sessionId, std::int32_t resultId,
                                          const char* messageTemplate, const wchar_t* soapAction)
{
    auto record = std::make_unique<MetricRequest>();
    record->packageId = kUpdatePackageId;
    record->resultId = resultId;
    // The copy ends at the identifier's first null, like any C string copy.
    record->session.reset(SysAllocString(sessionId.c_str()));
    if (!record->session)
    {
        ThrowStringError(E_OUTOFMEMORY);
    }
    record->messageTemplate = messageTemplate;
    record->soapAction = soapAction;
    return record;
}
} // namespace

std::unique_ptr<MetricRequest> MakeDownloadedRecord(const std::wstring& sessionId)
{
    return MakeRecord(sessionId, kDownloadedResultId, kCountUpdateDownloadedTemplate,
                      kCountUpdateDownloadedSoapAction);
}

std::unique_ptr<MetricRequest> MakeInstalledRecord(const std::wstring& sessionId)
{
    return MakeRecord(sessionId, kInstalledResultId, kCountUpdateInstalledTemplate,
                      kCountUpdateInstalledSoapAction);
}
