#pragma once

#include <cstdint>

// How many times this executable's global operator new (every form) has
// handed out memory so far. AllocationCounter.cpp replaces the operators.
std::uint64_t AllocationCount() noexcept;
