#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

// The pseudo-random source of generated test inputs. Every generator begins
// at the same starting value: a fixed one, or the one that the environment
// variable ZORVIK_TEST_GENERATOR_START gives (decimal, or hex with 0x), so a
// failed run can be replayed exactly, one test at a time if need be.
class CTestGenerator
{
public:
    CTestGenerator() : m_engine(StartValue()) {}

    // The starting value in use. The first call prints it.
    static std::uint32_t StartValue();

    std::uint32_t Word() { return static_cast<std::uint32_t>(m_engine()); }

    // A value in [0, bound) for bound > 0. Scaled by multiplication rather
    // than through the standard distributions, whose results differ between
    // standard libraries: a case found with one compiler replays with another.
    std::uint32_t Below(std::uint32_t bound)
    {
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(Word()) * bound) >> 32);
    }

    // A value in [low, high].
    std::uint32_t Between(std::uint32_t low, std::uint32_t high)
    {
        return low +
               static_cast<std::uint32_t>(
                   (static_cast<std::uint64_t>(Word()) * (std::uint64_t{high} - low + 1)) >> 32);
    }

    // True once in `n` draws on average.
    bool OneIn(std::uint32_t n) { return Below(n) == 0; }

    template <typename T, std::size_t N>
    const T& Pick(const T (&items)[N])
    {
        return items[Below(static_cast<std::uint32_t>(N))];
    }

private:
    std::mt19937 m_engine;
};
