#include "app/RunDeadline.h"

#include <algorithm>

namespace
{
// The last twelfth of the run (5 s of a minute) is kept for the clean-up.
constexpr DWORD kCleanUpShare = 12;
// How often a wait that the platform refused is made up by looking again.
constexpr DWORD kPollMs = 100;

// Milliseconds since the process was created; 0 when that cannot be told.
ULONGLONG ProcessAgeMs() noexcept
{
    FILETIME created = {};
    FILETIME exited = {};
    FILETIME kernel = {};
    FILETIME user = {};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
    {
        return 0;
    }
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER start;
    start.LowPart = created.dwLowDateTime;
    start.HighPart = created.dwHighDateTime;
    ULARGE_INTEGER current;
    current.LowPart = now.dwLowDateTime;
    current.HighPart = now.dwHighDateTime;
    // A clock set back meanwhile counts as no time at all.
    return current.QuadPart > start.QuadPart ? (current.QuadPart - start.QuadPart) / 10000 : 0;
}

#if defined(ZORVIK_COVERAGE)
extern "C" void __gcov_dump();
#endif

[[noreturn]] void EndProcessQuietly() noexcept
{
#if defined(ZORVIK_COVERAGE)
    // A coverage build writes its counts at an orderly exit, which this is not.
    __gcov_dump();
#endif
    TerminateProcess(GetCurrentProcess(), /* uExitCode */ 0);
    // TerminateProcess on the own process does not return. Should it fail,
    // the process exits instead: waiting here would leave the run to a
    // thread that may be blocked for ever, and the hang would come back at
    // every logon.
    ExitProcess(/* uExitCode */ 0);
}
} // namespace

CRunDeadline::CRunDeadline(DWORD deadlineMs, CleanUpFunction cleanUp) noexcept : m_cleanUp(cleanUp)
{
    const ULONGLONG age = ProcessAgeMs();
    const ULONGLONG left = age < deadlineMs ? deadlineMs - age : 0;
    const ULONGLONG now = GetTickCount64();
    m_deadline = now + left;
    const ULONGLONG reserve = deadlineMs / kCleanUpShare;
    m_cutOff = left > reserve ? m_deadline - reserve : now;

    m_finished.reset(CreateEventW(/* lpEventAttributes */ nullptr, /* bManualReset */ TRUE,
                                  /* bInitialState */ FALSE, /* lpName */ nullptr));
    if (m_finished)
    {
        // The program's default stack: the clean-up calls into the shell,
        // which may load libraries on this thread.
        m_watcher.reset(CreateThread(/* lpThreadAttributes */ nullptr, /* dwStackSize */ 0, &Watch,
                                     this, /* dwCreationFlags */ 0, /* lpThreadId */ nullptr));
    }
}

CRunDeadline::~CRunDeadline()
{
    if (m_watcher)
    {
        m_ended = true;
        // The watcher reads this object: it must be gone before the object is.
        // Should it not be woken, or not be waited for, it may go on reading;
        // the clean-up has run, so the process ends here instead.
        if (!SetEvent(m_finished.get()) ||
            WaitForSingleObject(m_watcher.get(), INFINITE) != WAIT_OBJECT_0)
        {
            EndProcessQuietly();
        }
    }
}

void CRunDeadline::CleanUpOnce()
{
    if (!ClaimCleanUp())
    {
        // The waiting thread is cleaning up and ends the process. Returning
        // would let the run exit on its own while that clean-up is half done;
        // this thread ends it only should the deadline come first.
        if (WaitForSingleObject(m_watcher.get(), MillisecondsUntil(m_deadline)) == WAIT_FAILED)
        {
            Sleep(MillisecondsUntil(m_deadline));
        }
        EndProcessQuietly();
    }
    m_cleanUp();
}

bool CRunDeadline::ClaimCleanUp() noexcept
{
    return !m_cleanUpClaimed.exchange(true);
}

DWORD CRunDeadline::MillisecondsUntil(ULONGLONG moment) const noexcept
{
    const ULONGLONG now = GetTickCount64();
    // Below INFINITE: a wait of 49 days is long enough.
    return moment > now ? static_cast<DWORD>(std::min<ULONGLONG>(moment - now, INFINITE - 1)) : 0;
}

bool CRunDeadline::RunEndedBy(ULONGLONG moment) const noexcept
{
    if (WaitForSingleObject(m_finished.get(), MillisecondsUntil(moment)) == WAIT_FAILED)
    {
        // A wait the platform refuses must not cost the run its deadline:
        // the moment is awaited in short sleeps instead.
        for (DWORD left = MillisecondsUntil(moment); !m_ended && left != 0;
             left = MillisecondsUntil(moment))
        {
            Sleep(std::min(left, kPollMs));
        }
    }
    return m_ended;
}

DWORD WINAPI CRunDeadline::Watch(void* context)
{
    auto& self = *static_cast<CRunDeadline*>(context);
    if (self.RunEndedBy(self.m_cutOff))
    {
        return 0;
    }
    if (self.ClaimCleanUp())
    {
        // The report under way is abandoned where it stands, as a failed one.
        self.m_cleanUp();
        EndProcessQuietly();
    }
    // The main thread is cleaning up; it too has until the deadline.
    if (!self.RunEndedBy(self.m_deadline))
    {
        EndProcessQuietly();
    }
    return 0;
}
