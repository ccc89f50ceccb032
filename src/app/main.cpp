#include "app/Cleanup.h"
#include "app/ReportMetric.h"
#include "app/RunDeadline.h"
#include "app/RunRecords.h"
#include "app/RunSettings.h"
#include "session/SessionFile.h"

#include <windows.h>

#include <memory>
#include <string>

namespace
{
// Sent when the session file gives no identifier.
const wchar_t kFallbackSessionId[] = L"{3E9B6824-12DB-43CA-983D-B1A32D32F509}";

// The whole run ends this long after the process started, whatever the
// network and the service do. Set by the build (ZORVIK_RUN_DEADLINE_SECONDS).
constexpr DWORD kRunDeadlineMs = ZORVIK_RUN_DEADLINE_SECONDS * 1000;

void CleanUp() noexcept
{
    RemoveRunOnceValue();
    DeleteSessionFile();
}

// The identifier in the session file, or the fallback when none can be read;
// running out of memory while reading counts as not reading it.
std::wstring SessionIdOrFallback()
{
    std::wstring sessionId;
    try
    {
        if (SUCCEEDED(ReadSessionId(sessionId)))
        {
            return sessionId;
        }
    }
    catch (...)
    {
    }
    return kFallbackSessionId;
}

// Makes one report's record and sends it. No memory for the record loses this
// report alone, as any failed report is lost: it is not retried.
void Report(std::unique_ptr<MetricRequest> (*makeRecord)(const std::wstring&),
            const std::wstring& sessionId) noexcept
{
    try
    {
        ReportMetric(makeRecord(sessionId).release());
    }
    catch (...)
    {
    }
}

void Run()
{
    // Past the deadline, the reports left are abandoned and the clean-up
    // below is done all the same.
    CRunDeadline deadline(kRunDeadlineMs, &CleanUp);

    // Each report is sent whatever became of the one before; results are not
    // looked at, because a failed report is not retried. Whatever fails on
    // the way, running out of memory included, the clean-up follows.
    try
    {
        const std::wstring sessionId = SessionIdOrFallback();
        Report(&MakeDownloadedRecord, sessionId);
        Report(&MakeInstalledRecord, sessionId);
    }
    catch (...)
    {
        // Not even the fallback identifier could be had: no report is made.
    }

    deadline.CleanUpOnce();
}
} // namespace

// Runs once at logon, unattended: no arguments, no window, exit code 0.
int WINAPI wWinMain(HINSTANCE /* instance */, HINSTANCE /* previousInstance */,
                    PWSTR /* commandLine */, int /* showCommand */)
{
    try
    {
        Run();
    }
    catch (...)
    {
        // Nothing the run raises gets here; should it, the run still ends
        // quietly, where an escaping exception would end it with a runtime
        // error.
    }
    return 0;
}
