#include "TestGenerator.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace
{
constexpr std::uint32_t kDefaultStartValue = 20250611;

std::uint32_t ReadStartValue()
{
    wchar_t text[32] = {};
    const DWORD length = GetEnvironmentVariableW(L"ZORVIK_TEST_GENERATOR_START", text, 32);
    if (length == 0 || length >= 32)
    {
        return kDefaultStartValue;
    }
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(text, &end, 0);
    if (end == text || *end != L'\0')
    {
        std::printf("ZORVIK_TEST_GENERATOR_START is no number; the default applies\n");
        return kDefaultStartValue;
    }
    return static_cast<std::uint32_t>(value);
}
} // namespace

std::uint32_t CTestGenerator::StartValue()
{
    static const std::uint32_t value = [] {
        const std::uint32_t start = ReadStartValue();
        std::printf("Generator starting value: %lu (replay with ZORVIK_TEST_GENERATOR_START=%lu)\n",
                    static_cast<unsigned long>(start), static_cast<unsigned long>(start));
        std::fflush(stdout);
        return start;
    }();
    return value;
}
