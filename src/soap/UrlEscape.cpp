#include "soap/UrlEscape.h"

#include "common/StringError.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <new>

namespace
{
// Room for the UTF-8 text and for its escaped form. A UTF-8 text that needs
// more goes to the heap, although it can never escape into a result that
// fits: escaping only lengthens.
constexpr size_t kUrlBufferBytes = 2084;

constexpr char kHexDigits[] = "0123456789abcdef";

bool NeedsEscape(unsigned char value)
{
    if (value <= 0x20 || value >= 0x7F)
    {
        return true;
    }
    switch (value)
    {
    case '"':
    case '$':
    case '&':
    case '+':
    case ',':
    case ';':
    case '<':
    case '=':
    case '>':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}': return true;
    default: return false;
    }
}

// The escaped text is ASCII before the first "?" or "#" and the caller's own
// UTF-8 after it, so widening all of it as UTF-8 gives back every character
// that came in (the ANSI code page would garble a query in another script).
// Only platform calls on fixed buffers: nothing here can raise.
bool WidenEscapedText(const char* escaped, wchar_t* out) noexcept
{
    wchar_t wide[kEscapedUrlCapacity];
    const int units =
        MultiByteToWideChar(CP_UTF8, 0, escaped, -1, wide, static_cast<int>(kEscapedUrlCapacity));
    if (units <= 0)
    {
        return false;
    }
    std::copy_n(wide, units, out);
    return true;
}
} // namespace

bool EscapeUrlBytes(const char* in, char* out, size_t outCapacity)
{
    if (in == nullptr || out == nullptr)
    {
        ThrowStringError(E_FAIL);
    }
    if (outCapacity == 0)
    {
        return false;
    }
    size_t written = 0;
    bool inExtraInfo = false;
    for (const char* p = in; *p != '\0'; ++p)
    {
        const auto value = static_cast<unsigned char>(*p);
        inExtraInfo = inExtraInfo || value == '?' || value == '#';
        const bool escape = !inExtraInfo && NeedsEscape(value);
        // One byte of the capacity stays free for the terminator.
        if (outCapacity - 1 - written < (escape ? 3u : 1u))
        {
            return false;
        }
        if (escape)
        {
            out[written++] = '%';
            out[written++] = kHexDigits[value >> 4];
            out[written++] = kHexDigits[value & 0x0F];
        }
        else
        {
            out[written++] = *p;
        }
    }
    out[written] = '\0';
    return true;
}

bool EscapeUrlText(const wchar_t* in, wchar_t* out)
{
    if (in == nullptr || out == nullptr)
    {
        ThrowStringError(E_FAIL);
    }
    if (*in == L'\0')
    {
        *out = L'\0';
        return true;
    }

    const int utf8Size = WideCharToMultiByte(CP_UTF8, 0, in, -1, nullptr, 0,
                                             /* lpDefaultChar */ nullptr,
                                             /* lpUsedDefaultChar */ nullptr);
    if (utf8Size <= 0)
    {
        return false;
    }
    char fixedUtf8[kUrlBufferBytes];
    std::unique_ptr<char[]> heapUtf8;
    char* utf8 = fixedUtf8;
    if (static_cast<size_t>(utf8Size) > kUrlBufferBytes)
    {
        heapUtf8.reset(new (std::nothrow) char[static_cast<size_t>(utf8Size)]);
        if (!heapUtf8)
        {
            return false;
        }
        utf8 = heapUtf8.get();
    }
    if (WideCharToMultiByte(CP_UTF8, 0, in, -1, utf8, utf8Size, /* lpDefaultChar */ nullptr,
                            /* lpUsedDefaultChar */ nullptr) != utf8Size)
    {
        return false;
    }

    char escaped[kUrlBufferBytes];
    if (!EscapeUrlBytes(utf8, escaped, kEscapedUrlCapacity))
    {
        return false;
    }
    return WidenEscapedText(escaped, out);
}
