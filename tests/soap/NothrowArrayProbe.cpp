#include "NothrowArrayProbe.h"

#include <cstddef>
#include <new>

// This file replaces the program's nothrow array new and array delete. Both
// forward to the single-object forms, as the library's own versions do.

namespace
{
constexpr size_t kSlots = 8;

bool g_refuse = false;
int g_allocated = 0;
void* g_held[kSlots] = {};
} // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    if (g_refuse)
    {
        return nullptr;
    }
    void* const block = ::operator new(size, std::nothrow);
    if (block != nullptr)
    {
        ++g_allocated;
        for (void*& slot : g_held)
        {
            if (slot == nullptr)
            {
                slot = block;
                break;
            }
        }
    }
    return block;
}

void operator delete[](void* block) noexcept
{
    for (void*& slot : g_held)
    {
        if (block != nullptr && slot == block)
        {
            slot = nullptr;
        }
    }
    ::operator delete(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    operator delete[](block);
}

CNothrowArrayProbe::CNothrowArrayProbe(bool refuse) noexcept
{
    g_refuse = refuse;
    g_allocated = 0;
}

CNothrowArrayProbe::~CNothrowArrayProbe()
{
    g_refuse = false;
}

int CNothrowArrayProbe::Allocated() const noexcept
{
    return g_allocated;
}

int CNothrowArrayProbe::Held() const noexcept
{
    int held = 0;
    for (const void* slot : g_held)
    {
        held += slot != nullptr ? 1 : 0;
    }
    return held;
}
