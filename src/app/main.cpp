#include "app/Cleanup.h"
#include "app/ReportMetric.h"
#include "app/RunDeadline.h"
#include "app/RunRecords.h"
#include "app/RunSettings.h"
#include "session/SessionFile.h"

#include <windows.h>

#include <string>

namespace
{
// Sent when the session file gives no identifier.
const wchar_t kFallbackSessionId[] = L"{3E9B6824-12DB-43CA-983D-B1A32D32F509}";

// The whole run ends this long after the process started, whatever the
// network and the service do. Set by the build (ZORVIK_RUN_DEADLINE_SECONDS).
constexpr DWORD kRunDeadlineMs = ZORVIK_RUN_DEADLINE_SECONDS * 1000;

void CleanUp()
{
    RemoveRunOnceValue();
    DeleteSessionFile();
}

void Run()
{
    // Past the deadline, the reports left are abandoned and the clean-up
    // below is done all the same.
    CRunDeadline deadline(kRunDeadlineMs, &CleanUp);

    std::wstring sessionId;
    if (FAILED(ReadSessionId(sessionId)))
    {
        sessionId = kFallbackSessionId;
    }

    // Each report is sent whatever became of the one before; results are not
    // looked at, because a failed report is not retried.
    ReportMetric(MakeDownloadedRecord(sessionId).release());
    ReportMetric(MakeInstalledRecord(sessionId).release());

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
        // Only running out of memory outside a report gets here. The run ends
        // quietly; an escaping exception would end it with a runtime error.
    }
    return 0;
}
