#include "AllocationFailure.h"

#include <cstdlib>
#include <new>

// This file replaces the program's operator new. It allocates with malloc, as
// the library's own does, so the library's operator delete frees its blocks.

namespace
{
int g_countdown = 0;
bool g_met = false;
} // namespace

void* operator new(std::size_t size)
{
    if (g_countdown > 0 && --g_countdown == 0)
    {
        g_met = true;
        throw std::bad_alloc();
    }
    void* const block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr)
    {
        throw std::bad_alloc();
    }
    return block;
}

CAllocationFailure::CAllocationFailure(int failAt) noexcept
{
    g_countdown = failAt;
    g_met = false;
}

CAllocationFailure::~CAllocationFailure()
{
    g_countdown = 0;
}

bool CAllocationFailure::Met() const noexcept
{
    return g_met;
}
