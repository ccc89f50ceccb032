#include "common/Strings.h"

#include "common/Result.h"
#include "common/StringError.h"

#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>

namespace
{
constexpr size_t kMaxStringBytes = 0x7FFFFFFF;

int CheckedLength(size_t length)
{
    if (length > INT_MAX)
    {
        ThrowStringError(E_INVALIDARG);
    }
    return static_cast<int>(length);
}

template <typename String>
void ResizeOrThrow(String& text, size_t length)
{
    try
    {
        text.resize(length);
    }
    catch (const std::bad_alloc&)
    {
        ThrowStringError(E_OUTOFMEMORY);
    }
}
} // namespace

std::string WideToNarrow(const wchar_t* text, UINT codePage)
{
    std::string narrow;
    if (text == nullptr || *text == L'\0')
    {
        return narrow;
    }
    const int wideLength = CheckedLength(wcslen(text));
    const int narrowLength = WideCharToMultiByte(codePage, 0, text, wideLength, nullptr, 0,
                                                 /* lpDefaultChar */ nullptr,
                                                 /* lpUsedDefaultChar */ nullptr);
    if (narrowLength <= 0)
    {
        ThrowStringError(HResultFromLastError());
    }
    ResizeOrThrow(narrow, static_cast<size_t>(narrowLength));
    if (WideCharToMultiByte(codePage, 0, text, wideLength, &narrow[0], narrowLength, nullptr,
                            nullptr) != narrowLength)
    {
        ThrowStringError(HResultFromLastError());
    }
    return narrow;
}

std::wstring NarrowToWide(const char* text, UINT codePage)
{
    std::wstring wide;
    if (text == nullptr || *text == '\0')
    {
        return wide;
    }
    const int narrowLength = CheckedLength(strlen(text));
    const int wideLength = MultiByteToWideChar(codePage, 0, text, narrowLength, nullptr, 0);
    if (wideLength <= 0)
    {
        ThrowStringError(HResultFromLastError());
    }
    ResizeOrThrow(wide, static_cast<size_t>(wideLength));
    if (MultiByteToWideChar(codePage, 0, text, narrowLength, &wide[0], wideLength) != wideLength)
    {
        ThrowStringError(HResultFromLastError());
    }
    return wide;
}

void AppendBounded(std::string& target, const char* text, int length)
{
    if (length < 0)
    {
        ThrowStringError(E_INVALIDARG);
    }
    const size_t count = text == nullptr ? 0 : strnlen(text, static_cast<size_t>(length));
    if (count > kMaxStringBytes - target.size())
    {
        ThrowStringError(E_INVALIDARG);
    }
    if (count == 0)
    {
        return;
    }
    try
    {
        // std::string::append copes with text inside its own storage.
        target.append(text, count);
    }
    catch (const std::bad_alloc&)
    {
        ThrowStringError(E_OUTOFMEMORY);
    }
}

std::wstring JoinWide(std::wstring_view first, std::wstring_view second)
{
    std::wstring joined;
    try
    {
        joined.reserve(first.size() + second.size());
        joined.append(first).append(second);
    }
    catch (const std::bad_alloc&)
    {
        ThrowStringError(E_OUTOFMEMORY);
    }
    catch (const std::length_error&)
    {
        ThrowStringError(E_INVALIDARG);
    }
    return joined;
}
