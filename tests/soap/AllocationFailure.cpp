#include "AllocationFailure.h"

#include <cstdlib>
#include <new>

// This file replaces the program's operator new and the deletes that free
// what it gives.

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

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
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
