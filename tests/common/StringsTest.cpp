#include "common/Result.h"
#include "common/StringError.h"
#include "common/Strings.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
TEST(Result, HResultFromWin32FollowsTheStandardRule)
{
    const struct
    {
        DWORD error;
        HRESULT expected;
    } cases[] = {
        {0, S_OK},
        {ERROR_FILE_NOT_FOUND, static_cast<HRESULT>(0x80070002)},
        {ERROR_SHARING_VIOLATION, static_cast<HRESULT>(0x80070020)},
        {12029, static_cast<HRESULT>(0x80072EFD)},
        {0x12345, static_cast<HRESULT>(0x80072345)},    // only the low 16 bits
        {0x80004005, static_cast<HRESULT>(0x80004005)}, // negative: unchanged
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(c.expected, HRESULT_FROM_WIN32(c.error)) << c.error;
    }
}

TEST(Result, LastErrorOfZeroIsNeverSuccess)
{
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(E_FAIL, HResultFromLastError());
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(E_ACCESSDENIED, HResultFromLastError());
}

HRESULT ErrorOf(void (*operation)())
{
    try
    {
        operation();
    }
    catch (const CStringError& error)
    {
        return error.Result();
    }
    return S_OK;
}

TEST(Strings, ConvertsBetweenWideAndNarrow)
{
    EXPECT_EQ("", WideToNarrow(nullptr, CP_UTF8));
    EXPECT_EQ("", WideToNarrow(L"", CP_UTF8));
    EXPECT_EQ("abc", WideToNarrow(L"abc", CP_THREAD_ACP));
    EXPECT_EQ("\xC3\xA9\xE2\x82\xAC", WideToNarrow(L"\xE9\x20AC", CP_UTF8));
    EXPECT_EQ(L"\xE9\x20AC", NarrowToWide("\xC3\xA9\xE2\x82\xAC", CP_UTF8));
    EXPECT_EQ(L"", NarrowToWide(nullptr, CP_UTF8));
    EXPECT_EQ(L"", NarrowToWide("", CP_UTF8));
}

TEST(Strings, FailedConversionRaisesTheWin32DerivedCode)
{
    // No such code page: ERROR_INVALID_PARAMETER.
    EXPECT_EQ(E_INVALIDARG, ErrorOf([] { WideToNarrow(L"x", 12345); }));
    EXPECT_EQ(E_INVALIDARG, ErrorOf([] { NarrowToWide("x", 12345); }));
}

TEST(Strings, AppendBoundedStopsAtLengthOrZeroByte)
{
    std::string text = "abc";
    AppendBounded(text, "def\0ghi", 7);
    EXPECT_EQ("abcdef", text);
    AppendBounded(text, "xyz", 2);
    AppendBounded(text, nullptr, 5);
    AppendBounded(text, "q", 0);
    EXPECT_EQ("abcdefxy", text);
}

TEST(Strings, AppendBoundedCopesWithItsOwnStorage)
{
    std::string text = "0123456789";
    for (int i = 0; i < 12; ++i)
    {
        AppendBounded(text, text.data(), static_cast<int>(text.size())); // doubles; storage moves
    }
    ASSERT_EQ(10u << 12, text.size());
    EXPECT_EQ("01234567890123456789", text.substr(text.size() - 20));
}

TEST(Strings, AppendBoundedRefusesInvalidLengths)
{
    EXPECT_EQ(E_INVALIDARG, ErrorOf([] {
                  std::string text = "keep";
                  AppendBounded(text, "x", -1);
              }));
    std::string text = "keep";
    try
    {
        AppendBounded(text, "x", -1);
    }
    catch (const CStringError&)
    {
    }
    EXPECT_EQ("keep", text);
}
} // namespace
