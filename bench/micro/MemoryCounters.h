#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <thread>

// The process's private bytes through GetProcessMemoryInfo
// (PROCESS_MEMORY_COUNTERS_EX).
struct MemoryCounters
{
    SIZE_T privateUsage = 0;
    SIZE_T pagefileUsage = 0;
    SIZE_T peakPagefileUsage = 0;
};

MemoryCounters ReadMemoryCounters() noexcept;

// PrivateUsage, or PagefileUsage where the platform leaves PrivateUsage 0
// (Windows reports the same value in both).
SIZE_T PrivateBytes() noexcept;

// Whether PeakPagefileUsage keeps a peak that has passed: 4 MiB are
// committed, touched and released, and the counter must still show them.
bool PeakCounterKeepsPeaks() noexcept;

// Samples PrivateBytes() on a thread of its own until Stop(), for a peak that
// the platform's own counter does not keep. The first sample is taken before
// the constructor returns, with the sampling thread already running: the
// process's idle for the work that follows.
class CPeakSampler
{
public:
    CPeakSampler();
    ~CPeakSampler();
    CPeakSampler(const CPeakSampler&) = delete;
    CPeakSampler& operator=(const CPeakSampler&) = delete;

    void Stop();
    SIZE_T First() const noexcept { return m_first; }
    SIZE_T Peak() const noexcept { return m_peak; }
    std::size_t Samples() const noexcept { return m_samples; }

private:
    void Run() noexcept;

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_started{false};
    SIZE_T m_first = 0;
    SIZE_T m_peak = 0;
    std::size_t m_samples = 0;
    std::thread m_thread;
};
