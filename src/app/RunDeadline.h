#pragma once

#include "common/Owners.h"

#include <windows.h>

#include <atomic>

// Holds the whole run to a deadline counted from the process's start. A
// report can block for ever inside the HTTP client (a service that never
// answers, or answers a byte at a time, or without end), and a run that never
// ends never cleans up either, so the same hang would come back at every
// logon.
//
// A waiting thread watches the run. Shortly before the deadline it abandons
// whatever report is under way: it does the clean-up itself and ends the
// process with exit code 0 through TerminateProcess, because a blocked HTTP
// call can hold locks that an orderly exit would wait on; only should that
// fail does it exit in order. The clean-up runs once, on whichever thread
// claims it first; the main thread claims it through CleanUpOnce when the
// reports are over. A call that fails on the deadline's own path does not
// keep the run from ending.
class CRunDeadline
{
public:
    // Runs on either thread, so it must not raise.
    using CleanUpFunction = void (*)() noexcept;

    // Starts watching. Without a thread (none could be made) the run simply
    // has no deadline.
    CRunDeadline(DWORD deadlineMs, CleanUpFunction cleanUp) noexcept;
    // Stops watching: the run has ended on its own, its clean-up done. Should
    // the waiting thread not be stopped, the process ends here, quietly.
    ~CRunDeadline();
    CRunDeadline(const CRunDeadline&) = delete;
    CRunDeadline& operator=(const CRunDeadline&) = delete;

    // Runs the clean-up unless the deadline has already claimed it; then the
    // process is ending on the waiting thread and this call never returns.
    void CleanUpOnce();

private:
    static DWORD WINAPI Watch(void* self);
    // Waits until the run has ended on its own, or the moment has come;
    // true when the run has ended.
    bool RunEndedBy(ULONGLONG moment) const noexcept;
    bool ClaimCleanUp() noexcept;
    DWORD MillisecondsUntil(ULONGLONG moment) const noexcept;

    CleanUpFunction m_cleanUp;
    ULONGLONG m_cutOff = 0;   // when a report under way is abandoned
    ULONGLONG m_deadline = 0; // when the process ends, whatever it is doing
    std::atomic<bool> m_cleanUpClaimed{false};
    std::atomic<bool> m_ended{false}; // the run has ended on its own
    CUniqueHandle m_finished;         // set once m_ended is, to wake the watcher
    CUniqueHandle m_watcher;
};
