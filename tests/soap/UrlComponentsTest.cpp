#include "soap/UrlComponents.h"

#include "NothrowArrayProbe.h"
#include "common/StringError.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace
{
// What a record should hold; the defaults are those of a cleared record.
struct Expected
{
    Expected(std::wstring schemeText = L"", std::int32_t schemeId = SchemeOther,
             std::wstring hostText = L"", INTERNET_PORT portNumber = 0, std::wstring pathText = L"",
             std::wstring extraInfoText = L"", std::wstring userText = L"",
             std::wstring passwordText = L"")
        : scheme(std::move(schemeText)),
          id(schemeId),
          host(std::move(hostText)),
          port(portNumber),
          path(std::move(pathText)),
          extraInfo(std::move(extraInfoText)),
          user(std::move(userText)),
          password(std::move(passwordText))
    {
    }

    std::wstring scheme;
    std::int32_t id;
    std::wstring host;
    INTERNET_PORT port;
    std::wstring path;
    std::wstring extraInfo;
    std::wstring user;
    std::wstring password;
};

const Expected kCleared{};

// The field's text; the test fails unless the terminator sits right after it.
template <size_t N>
std::wstring FieldText(const wchar_t (&field)[N], DWORD length)
{
    if (length >= N)
    {
        ADD_FAILURE() << "length " << length << " leaves no room for a terminator";
        return L"";
    }
    EXPECT_EQ(L'\0', field[length]);
    EXPECT_EQ(length, std::wcslen(field));
    return std::wstring(field, length);
}

void ExpectRecord(const Expected& expected, const CUrlComponents& url)
{
    EXPECT_EQ(expected.scheme, FieldText(url.m_schemeName, url.m_schemeNameLength));
    EXPECT_EQ(expected.id, url.m_schemeId);
    EXPECT_EQ(expected.host, FieldText(url.m_hostName, url.m_hostNameLength));
    EXPECT_EQ(expected.port, url.m_port);
    EXPECT_EQ(expected.path, FieldText(url.m_path, url.m_pathLength));
    EXPECT_EQ(expected.extraInfo, FieldText(url.m_extraInfo, url.m_extraInfoLength));
    EXPECT_EQ(expected.user, FieldText(url.m_userName, url.m_userNameLength));
    EXPECT_EQ(expected.password, FieldText(url.m_password, url.m_passwordLength));
}

std::wstring Repeat(size_t count, wchar_t ch = L'a')
{
    return std::wstring(count, ch);
}

struct ParseCase
{
    std::wstring url;
    bool ok;
    Expected expected;
};

ParseCase Refused(std::wstring url)
{
    return {std::move(url), false, kCleared};
}

std::vector<ParseCase> ParseCases()
{
    const std::wstring kEndpointPath = L"/kaldris/Mervo3/mervoservice2.asmx";
    return {
        {L"http://host" + kEndpointPath, true, {L"http", 2, L"host", 80, kEndpointPath}},
        {L"HTTPS://host/x", true, {L"HTTPS", 3, L"host", 443, L"/x"}},
        {L"https://host:8080/p?q=1#f", true, {L"https", 3, L"host", 8080, L"/p", L"?q=1#f"}},
        {L"http://host/p#f?g", true, {L"http", 2, L"host", 80, L"/p", L"#f?g"}},
        {L"http://host?x", true, {L"http", 2, L"host", 80, L"", L"?x"}},
        // The port text runs to "/", "@" or the end and swallows the query.
        {L"http://host:8080?x", true, {L"http", 2, L"host", 8080}},
        {L"http://host#frag", true, {L"http", 2, L"host#frag", 80}},
        Refused(L"host/x"),
        Refused(L""),
        // Brackets protect a colon only once the scheme is known.
        {L"[a:b]/x", true, {L"[a", -1, L"b]", 0, L"/x"}},
        {L"foo://host/x", true, {L"foo", -1, L"host", 0, L"/x"}},
        {L"://host/x", true, {L"", -1, L"host", 0, L"/x"}},
        {L"host:8080/x", true, {L"host", -1, L"8080", 0, L"/x"}},
        {L"ftp://h/", true, {L"ftp", 0, L"h", 21, L"/"}},
        {L"Gopher://h", true, {L"Gopher", 1, L"h", 70}},
        {L"socks://h", true, {L"socks", 7, L"h", 1080}},
        // News, mailto and file have no port, even a written one.
        {L"news://h:119/x", true, {L"news", 5, L"h", 0, L"/x"}},
        Refused(L"mailto://a@b"),
        {L"mailto:a@b", true, {L"mailto", 6, L"b", 0, L"", L"", L"a"}},
        {L"file:///c:/dir/a?b#c", true, {L"file", 4, L"", 0, L"/c:/dir/a?b#c"}},
        {L"file://server/share/x", true, {L"file", 4, L"", 0, L"server/share/x"}},
        {L"http:/x", true, {L"http", 2, L"", 80, L"/x"}},
        {L"http:", true, {L"http", 2, L"", 80}},
        {L"http://", true, {L"http", 2, L"", 80}},
        {L"http://host:", true, {L"http", 2, L"host", 0}},
        {L"http://u:p@host:81/x", true, {L"http", 2, L"host", 81, L"/x", L"", L"u", L"p"}},
        {L"http://u@host/x", true, {L"http", 2, L"host", 80, L"/x", L"", L"u"}},
        {L"http://u:@host/", true, {L"http", 2, L"host", 80, L"/", L"", L"u"}},
        Refused(L"http://:p@host/"),
        Refused(L"http://a@b@c/"),
        Refused(L"http://u:p@h:1@x/"),
        {L"http://[::1]:8080/x", true, {L"http", 2, L"[::1]", 8080, L"/x"}},
        {L"http://[::1]/x", true, {L"http", 2, L"[::1]", 80, L"/x"}},

        // Port text.
        {L"http://h:0/", true, {L"http", 2, L"h", 0, L"/"}},
        {L"http://h:65535/", true, {L"http", 2, L"h", 65535, L"/"}},
        {L"http://h:65535", true, {L"http", 2, L"h", 65535}},
        Refused(L"http://h:65536/"),
        Refused(L"http://h:99999999999999999999/"),
        Refused(L"http://h:-1/"),
        Refused(L"http://u:p@h:70000/x"),
        {L"http://h:-0/", true, {L"http", 2, L"h", 0, L"/"}},
        {L"http://h:+80/", true, {L"http", 2, L"h", 80, L"/"}},
        {L"http://h: 80/", true, {L"http", 2, L"h", 80, L"/"}},
        {L"http://h:\t\n80/", true, {L"http", 2, L"h", 80, L"/"}},
        {L"http://h:81abc/", true, {L"http", 2, L"h", 81, L"/"}},
        {L"http://h:abc/", true, {L"http", 2, L"h", 0, L"/"}},
        {L"http://h:" + Repeat(125, L'0') + L"81/", true, {L"http", 2, L"h", 81, L"/"}},
        {L"http://h:" + Repeat(126, L'0') + L"81/", true, {L"http", 2, L"h", 81, L"/"}},
        Refused(L"http://h:" + Repeat(127, L'0') + L"81/"),

        // Field limits: just below, at and just above.
        {Repeat(31) + L"://h", true, {Repeat(31), -1, L"h"}},
        {Repeat(32) + L"://h", true, {Repeat(32), -1, L"h"}},
        Refused(Repeat(33) + L"://h"),
        {L"http://" + Repeat(255) + L"/", true, {L"http", 2, Repeat(255), 80, L"/"}},
        {L"http://" + Repeat(256) + L"/", true, {L"http", 2, Repeat(256), 80, L"/"}},
        Refused(L"http://" + Repeat(257) + L"/"),
        Refused(L"http://" + Repeat(257) + L":80/"),
        {L"http://" + Repeat(127) + L"@h", true, {L"http", 2, L"h", 80, L"", L"", Repeat(127)}},
        {L"http://" + Repeat(128) + L"@h", true, {L"http", 2, L"h", 80, L"", L"", Repeat(128)}},
        Refused(L"http://" + Repeat(129) + L"@h"),
        Refused(L"http://" + Repeat(129) + L":p@h"),
        {L"http://u:" + Repeat(127) + L"@h",
         true,
         {L"http", 2, L"h", 80, L"", L"", L"u", Repeat(127)}},
        {L"http://u:" + Repeat(128) + L"@h",
         true,
         {L"http", 2, L"h", 80, L"", L"", L"u", Repeat(128)}},
        Refused(L"http://u:" + Repeat(129) + L"@h"),
        {L"http://h/" + Repeat(2046), true, {L"http", 2, L"h", 80, L"/" + Repeat(2046)}},
        {L"http://h/" + Repeat(2047), true, {L"http", 2, L"h", 80, L"/" + Repeat(2047)}},
        Refused(L"http://h/" + Repeat(2048)),
        {L"http://h?" + Repeat(2047), true, {L"http", 2, L"h", 80, L"", L"?" + Repeat(2047)}},
        Refused(L"http://h?" + Repeat(2048)),
        {L"file://" + Repeat(2048), true, {L"file", 4, L"", 0, Repeat(2048)}},
        Refused(L"file://" + Repeat(2049)),

        // Text longer than any field guards the work buffer: whichever bound
        // trips first, the URL is refused, not written past the buffer.
        Refused(L"http://h/" + Repeat(2088)),
        Refused(L"http://h/" + Repeat(2089)),
        Refused(L"http://h?" + Repeat(2089)),
        Refused(Repeat(2088)),
        Refused(Repeat(2089)),
        Refused(Repeat(2090)),
        Refused(Repeat(2088) + L":"),
        Refused(Repeat(2089) + L":"),
        Refused(L"http://" + Repeat(2087) + L"/"),
        Refused(L"http://" + Repeat(2089) + L"/"),
    };
}

TEST(UrlComponents, ParsesEachUrlOnAClearedRecord)
{
    for (const ParseCase& c : ParseCases())
    {
        SCOPED_TRACE(testing::Message() << c.url.substr(0, 48) << " (" << c.url.size() << ")");
        CUrlComponents url;
        // A full record first, so that a clear that misses a field shows.
        ASSERT_TRUE(url.ParseUrl(L"ftp://user:pw@old:21/old?old"));
        url.ClearComponents();
        EXPECT_EQ(c.ok, url.ParseUrl(c.url.c_str()));
        ExpectRecord(c.expected, url);
    }
}

TEST(UrlComponents, FailureClearsWhatWasThereBefore)
{
    CUrlComponents url;
    url.InitHttpDefaults();
    EXPECT_FALSE(url.ParseUrl(L"host/x"));
    ExpectRecord(kCleared, url);
}

TEST(UrlComponents, HttpDefaults)
{
    CUrlComponents url;
    ASSERT_TRUE(url.ParseUrl(L"ftp://u:p@h:1/x?y"));
    EXPECT_EQ(&url, &url.InitHttpDefaults());
    ExpectRecord({L"http", SchemeHttp, L"", 80}, url);
}

TEST(UrlComponents, SchemeIdIgnoresTheCaseOfAsciiLettersOnly)
{
    const struct
    {
        const wchar_t* text;
        std::int32_t id;
        INTERNET_PORT port;
    } cases[] = {
        {L"ftp", 0, 21},   {L"GOPHER", 1, 70},
        {L"hTTp", 2, 80},  {L"https", 3, 443},
        {L"FILE", 4, 0},   {L"news", 5, 0},
        {L"MailTo", 6, 0}, {L"SOCKS", 7, 1080},
        {L"htt", -1, 0},   {L"http ", -1, 0},
        {L"", -1, 0},      {L"SOC\x212AS", -1, 0}, // the Kelvin sign folds to "k" only in Unicode
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.text);
        CUrlComponents url;
        ASSERT_TRUE(url.AssignScheme(c.text));
        EXPECT_EQ(c.text, FieldText(url.m_schemeName, url.m_schemeNameLength));
        EXPECT_EQ(c.id, url.m_schemeId);
        EXPECT_EQ(c.port, url.m_port);
    }
}

TEST(UrlComponents, AssignRefusesTextThatDoesNotFitAndKeepsTheField)
{
    CUrlComponents url;
    ASSERT_TRUE(url.AssignScheme(L"https"));
    EXPECT_FALSE(url.AssignScheme(Repeat(33).c_str()));
    EXPECT_EQ(L"https", FieldText(url.m_schemeName, url.m_schemeNameLength));
    EXPECT_EQ(SchemeHttps, url.m_schemeId);
    EXPECT_EQ(443, url.m_port);

    EXPECT_TRUE(url.AssignPassword(L""));
    EXPECT_FALSE(url.AssignPassword(L"p")); // no user name yet
    ASSERT_TRUE(url.AssignUserName(L"u"));
    EXPECT_TRUE(url.AssignPassword(L"p"));
    EXPECT_FALSE(url.AssignHostName(Repeat(257).c_str()));
    EXPECT_FALSE(url.AssignUserName(Repeat(129).c_str()));
    EXPECT_FALSE(url.AssignPassword(Repeat(129).c_str()));
    ExpectRecord({L"https", SchemeHttps, L"", 443, L"", L"", L"u", L"p"}, url);
}

HRESULT ErrorOf(bool (CUrlComponents::*operation)(const wchar_t*), CUrlComponents& url,
                const wchar_t* text)
{
    try
    {
        (url.*operation)(text);
    }
    catch (const CStringError& error)
    {
        return error.Result();
    }
    return S_OK;
}

TEST(UrlComponents, NullTextRaisesFail)
{
    CUrlComponents url;
    EXPECT_EQ(E_FAIL, ErrorOf(&CUrlComponents::ParseUrl, url, nullptr));
    EXPECT_EQ(E_FAIL, ErrorOf(&CUrlComponents::AssignScheme, url, nullptr));
    EXPECT_EQ(E_FAIL, ErrorOf(&CUrlComponents::AssignHostName, url, nullptr));
    EXPECT_EQ(E_FAIL, ErrorOf(&CUrlComponents::AssignUserName, url, nullptr));
    EXPECT_EQ(E_FAIL, ErrorOf(&CUrlComponents::AssignPassword, url, nullptr));
}

TEST(UrlComponents, WorkBufferIsReleasedOnEveryWayOut)
{
    for (const wchar_t* text : {L"http://host/x", L"host/x", L""})
    {
        CNothrowArrayProbe probe;
        CUrlComponents url;
        url.ParseUrl(text);
        EXPECT_EQ(1, probe.Allocated()) << text;
        EXPECT_EQ(0, probe.Held()) << text;
    }
    CNothrowArrayProbe exhausted(true);
    CUrlComponents url;
    EXPECT_EQ(E_OUTOFMEMORY, ErrorOf(&CUrlComponents::ParseUrl, url, L"http://host/x"));
}
} // namespace
