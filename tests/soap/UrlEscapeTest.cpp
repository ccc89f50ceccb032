#include "soap/UrlEscape.h"

#include "NothrowArrayProbe.h"
#include "common/StringError.h"
#include "soap/UrlComponents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
// As large as the SOAP client's buffer, one unit more than the escaping may use.
constexpr size_t kOutUnits = 2084;
constexpr wchar_t kUntouched = 0xBEEF;

std::wstring Repeat(size_t count, wchar_t ch = L'a')
{
    return std::wstring(count, ch);
}

// Escapes into a buffer full of kUntouched. On success the result must be
// terminated and nothing after the terminator written; on failure nothing at
// all may be written.
void ExpectEscape(const std::wstring& in, bool ok, const std::wstring& expected)
{
    SCOPED_TRACE(testing::Message() << in.substr(0, 48) << " (" << in.size() << ")");
    std::vector<wchar_t> out(kOutUnits, kUntouched);
    ASSERT_EQ(ok, EscapeUrlText(in.c_str(), out.data()));
    const size_t written = ok ? expected.size() + 1 : 0;
    if (ok)
    {
        EXPECT_EQ(expected, std::wstring(out.data(), expected.size()));
        EXPECT_EQ(L'\0', out[expected.size()]);
    }
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(written), out.end(),
                            [](wchar_t ch) { return ch == kUntouched; }));
}

TEST(UrlEscape, EscapesUnsafeBytesBeforeTheQuery)
{
    const struct
    {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"", L""},
        {L"http://host/a b", L"http://host/a%20b"},
        {L"http://host/\xE9", L"http://host/%c3%a9"},
        {L"http://host/%41", L"http://host/%41"},
        {L"http://host/a?b c", L"http://host/a?b c"},
        {L"http://host/a b#c d?e f", L"http://host/a%20b#c d?e f"},
        {L"http://u:p@host/x", L"http://u:p%40host/x"},
        {L"!'()*-./:_~%AZaz09", L"!'()*-./:_~%AZaz09"},
        {L"\x01\n\x1F \"$&+,;<=>@", L"%01%0a%1f%20%22%24%26%2b%2c%3b%3c%3d%3e%40"},
        {L"[\\]^`{|}\x7F", L"%5b%5c%5d%5e%60%7b%7c%7d%7f"},
        {L"\x80\xFF\x20AC\xD83D\xDE00", L"%c2%80%c3%bf%e2%82%ac%f0%9f%98%80"},
        // After the first "?" or "#" every character comes back as it went in,
        // whatever the ANSI code page.
        {L"/?\x01 \xE9\x20AC\x4E2D\xD83D\xDE00", L"/?\x01 \xE9\x20AC\x4E2D\xD83D\xDE00"},
        {L"/#\xE9?\x0416", L"/#\xE9?\x0416"},
    };
    for (const auto& c : cases)
    {
        ExpectEscape(c.in, true, c.out);
    }
}

TEST(UrlEscape, EscapedTextHoldsAtMost2082Characters)
{
    const std::wstring base = L"http://h/";
    ExpectEscape(base + Repeat(2081 - base.size()), true, base + Repeat(2081 - base.size()));
    ExpectEscape(base + Repeat(2082 - base.size()), true, base + Repeat(2082 - base.size()));
    ExpectEscape(base + Repeat(2083 - base.size()), false, L"");
    // An escape is written whole or not at all.
    const std::wstring pad = base + Repeat(2079 - base.size());
    ExpectEscape(pad + L" ", true, pad + L"%20");
    ExpectEscape(pad + L"a ", false, L"");
    ExpectEscape(L"?" + Repeat(1040, L'\xE9') + L"a", true, L"?" + Repeat(1040, L'\xE9') + L"a");
    ExpectEscape(L"?" + Repeat(1040, L'\xE9') + L"ab", false, L"");
}

TEST(UrlEscape, UsesTheHeapOnlyForUtf8TextBeyondItsBuffer)
{
    const struct
    {
        std::wstring in;
        int heapBlocks;
    } cases[] = {
        {Repeat(2083), 0}, // 2084 bytes with the terminator: the fixed buffer
        {Repeat(2084), 1},
        {Repeat(700, L'\x20AC'), 1},
        {L"?" + Repeat(100000), 1},
    };
    for (const auto& c : cases)
    {
        {
            CNothrowArrayProbe probe;
            ExpectEscape(c.in, false, L"");
            EXPECT_EQ(c.heapBlocks, probe.Allocated());
            EXPECT_EQ(0, probe.Held());
        }
        CNothrowArrayProbe exhausted(true);
        ExpectEscape(c.in, false, L"");
    }
}

TEST(UrlEscape, EscapeUrlBytesStopsAtItsCapacity)
{
    const struct
    {
        const char* in;
        size_t capacity;
        bool ok;
    } cases[] = {
        {"ab", 3, true}, {"ab", 2, false}, {" ", 4, true},
        {" ", 3, false}, {"", 1, true},    {"", 0, false},
    };
    for (const auto& c : cases)
    {
        char out[8] = {};
        EXPECT_EQ(c.ok, EscapeUrlBytes(c.in, out, c.capacity)) << c.in << " " << c.capacity;
    }
    char out[8] = {};
    ASSERT_TRUE(EscapeUrlBytes("a b?c", out, sizeof(out)));
    EXPECT_STREQ("a%20b?c", out);
}

template <typename Operation>
HRESULT ErrorOf(Operation operation)
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

TEST(UrlEscape, NullArgumentsRaiseFail)
{
    wchar_t out[kOutUnits] = {};
    char bytes[8] = {};
    EXPECT_EQ(E_FAIL, ErrorOf([&] { EscapeUrlText(nullptr, out); }));
    EXPECT_EQ(E_FAIL, ErrorOf([] { EscapeUrlText(L"x", nullptr); }));
    EXPECT_EQ(E_FAIL, ErrorOf([&] { EscapeUrlBytes(nullptr, bytes, sizeof(bytes)); }));
    EXPECT_EQ(E_FAIL, ErrorOf([] { EscapeUrlBytes("x", nullptr, 8); }));
}

TEST(UrlEscape, EscapingTurnsUserInformationIntoHostText)
{
    wchar_t escaped[kOutUnits] = {};
    ASSERT_TRUE(EscapeUrlText(L"http://u:p@host/x", escaped));
    CUrlComponents url;
    ASSERT_TRUE(url.ParseUrl(escaped));
    EXPECT_STREQ(L"u", url.m_hostName);
    EXPECT_EQ(0, url.m_port);
    EXPECT_STREQ(L"/x", url.m_path);
    EXPECT_EQ(0u, url.m_userNameLength);
}
} // namespace
