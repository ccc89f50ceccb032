#pragma once

#include <windows.h>

// Wall time since construction, from the performance counter.
class CStopwatch
{
public:
    CStopwatch() noexcept { QueryPerformanceCounter(&m_start); }

    double Seconds() const noexcept
    {
        LARGE_INTEGER now;
        LARGE_INTEGER frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(now.QuadPart - m_start.QuadPart) /
               static_cast<double>(frequency.QuadPart);
    }

private:
    LARGE_INTEGER m_start;
};
