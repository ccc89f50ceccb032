#include "MemoryCounters.h"

#include <psapi.h>

#include <algorithm>

namespace
{
constexpr SIZE_T kProbeBytes = 4 << 20;
constexpr SIZE_T kPageBytes = 4096;
} // namespace

MemoryCounters ReadMemoryCounters() noexcept
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    MemoryCounters result;
    if (GetProcessMemoryInfo(GetCurrentProcess(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters))
    {
        result.privateUsage = counters.PrivateUsage;
        result.pagefileUsage = counters.PagefileUsage;
        result.peakPagefileUsage = counters.PeakPagefileUsage;
    }
    return result;
}

SIZE_T PrivateBytes() noexcept
{
    const MemoryCounters counters = ReadMemoryCounters();
    return counters.privateUsage != 0 ? counters.privateUsage : counters.pagefileUsage;
}

bool PeakCounterKeepsPeaks() noexcept
{
    const MemoryCounters before = ReadMemoryCounters();
    void* const memory = VirtualAlloc(/* lpAddress */ nullptr, kProbeBytes,
                                      MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (memory == nullptr)
    {
        return false;
    }
    auto* const bytes = static_cast<volatile char*>(memory);
    for (SIZE_T offset = 0; offset < kProbeBytes; offset += kPageBytes)
    {
        bytes[offset] = 1;
    }
    VirtualFree(memory, 0, MEM_RELEASE);
    const MemoryCounters after = ReadMemoryCounters();
    return after.peakPagefileUsage >= before.pagefileUsage + kProbeBytes;
}

CPeakSampler::CPeakSampler() : m_thread([this] { Run(); })
{
    // Work measured before the first sample would be missed.
    while (!m_started.load())
    {
        std::this_thread::yield();
    }
}

CPeakSampler::~CPeakSampler()
{
    Stop();
}

void CPeakSampler::Stop()
{
    if (m_thread.joinable())
    {
        m_stop.store(true);
        m_thread.join();
    }
}

void CPeakSampler::Run() noexcept
{
    m_first = PrivateBytes();
    m_peak = m_first;
    m_samples = 1;
    m_started.store(true);
    while (!m_stop.load())
    {
        m_peak = std::max(m_peak, PrivateBytes());
        ++m_samples;
    }
}
