#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// The replacements count and pass on to malloc and free. They replace the
// library's operators for everything linked into this executable, the
// project's libraries and the standard library's own containers included.
namespace
{
std::atomic<std::uint64_t> g_allocations{0};

void* Allocate(std::size_t size) noexcept
{
    void* const memory = std::malloc(size == 0 ? 1 : size);
    if (memory != nullptr)
    {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
    return memory;
}

void* AllocateOrThrow(std::size_t size)
{
    void* const memory = Allocate(size);
    if (memory == nullptr)
    {
        throw std::bad_alloc();
    }
    return memory;
}
} // namespace

std::uint64_t AllocationCount() noexcept
{
    return g_allocations.load(std::memory_order_relaxed);
}

void* operator new(std::size_t size)
{
    return AllocateOrThrow(size);
}

void* operator new[](std::size_t size)
{
    return AllocateOrThrow(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}
