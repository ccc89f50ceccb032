#include "metrics/ComposeMessage.h"
#include "metrics/MessageTemplates.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace
{
std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

std::string Compose(const wchar_t* browser, int packageId, int resultId, const wchar_t* session,
                    const char* messageTemplate, int language = 0, int country = 0, int os = 0,
                    int toolcode = 0)
{
    return ComposeMessage(MakeMessageValueTexts(browser, packageId, resultId, session, language,
                                                country, os, toolcode),
                          messageTemplate);
}

// The element text of <name> in a body (between the first start and end tag).
std::string ElementText(const std::string& body, const std::string& name)
{
    const std::string open = "<" + name + ">";
    const size_t start = body.find(open);
    const size_t end = body.find("</" + name + ">");
    EXPECT_NE(start, std::string::npos) << name;
    EXPECT_NE(end, std::string::npos) << name;
    if (start == std::string::npos || end == std::string::npos)
    {
        return "<missing>";
    }
    return body.substr(start + open.size(), end - start - open.size());
}

TEST(ComposeMessage, RunMessagesCarryPackageResultAndSession)
{
    const wchar_t* session = L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
    const std::string downloaded = Compose(nullptr, 11, 0, session, kCountUpdateDownloadedTemplate);
    const std::string installed = Compose(nullptr, 11, 8, session, kCountUpdateInstalledTemplate);

    std::string expected = Replace(kCountUpdateDownloadedTemplate, "${packageId}", "11");
    expected = Replace(expected, "${resultId}", "0");
    expected = Replace(expected, "${session}", "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
    EXPECT_EQ(expected, downloaded);

    expected = Replace(kCountUpdateInstalledTemplate, "${packageId}", "11");
    expected = Replace(expected, "${resultId}", "8");
    expected = Replace(expected, "${session}", "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
    EXPECT_EQ(expected, installed);
}

TEST(ComposeMessage, EveryTemplateFillsItsOwnPlaceholders)
{
    const std::string session = Compose(L"IE 11", 0, 0, L"S", kCountSessionTemplate, 1033, 49, -7);
    EXPECT_EQ("IE 11", ElementText(session, "Browser"));
    EXPECT_EQ("1033", ElementText(session, "Language"));
    EXPECT_EQ("49", ElementText(session, "Country"));
    EXPECT_EQ("-7", ElementText(session, "Os"));
    EXPECT_EQ("S", ElementText(session, "Session"));

    for (const char* packageTemplate : {kCountUpdateRecommendedTemplate,
                                        kCountUpdateSelectedTemplate, kCountUpdateHiddenTemplate})
    {
        const std::string body = Compose(nullptr, 42, 0, L"S", packageTemplate);
        EXPECT_EQ("42", ElementText(body, "PackageId"));
        EXPECT_EQ("S", ElementText(body, "Session"));
        EXPECT_EQ(body.find("${"), std::string::npos) << body;
    }

    const std::string tool = Compose(L"Edge", 0, 0, L"S", kCountToolSessionTemplate, 0, 0, 0, 77);
    EXPECT_EQ("77", ElementText(tool, "ToolCode"));
    EXPECT_EQ("Edge", ElementText(tool, "Browser"));
    EXPECT_EQ("S", ElementText(tool, "Session"));
}

TEST(ComposeMessage, NumbersAreSignedDecimal)
{
    const struct
    {
        int value;
        const char* text;
    } cases[] = {
        {0, "0"}, {11, "11"}, {-1, "-1"}, {INT_MAX, "2147483647"}, {INT_MIN, "-2147483648"}};
    for (const auto& c : cases)
    {
        const std::string body =
            Compose(nullptr, c.value, c.value, L"S", kCountUpdateDownloadedTemplate);
        EXPECT_EQ(c.text, ElementText(body, "PackageId"));
        EXPECT_EQ(c.text, ElementText(body, "ResultId"));
    }
}

TEST(ComposeMessage, EmptySessionAndNullBrowserLeaveEmptyElements)
{
    const std::string body = Compose(nullptr, 11, 0, L"", kCountUpdateDownloadedTemplate);
    EXPECT_NE(body.find("<Session></Session>"), std::string::npos);

    const std::string tool = Compose(nullptr, 0, 0, nullptr, kCountToolSessionTemplate);
    EXPECT_NE(tool.find("<Browser></Browser>"), std::string::npos);
    EXPECT_NE(tool.find("<Session></Session>"), std::string::npos);
}

TEST(ComposeMessage, ValuesAreEscapedAndEncodedAsUtf8)
{
    const struct
    {
        const wchar_t* value;
        const char* text;
    } cases[] = {
        {L"a&b", "a&amp;b"},
        {L"<Session>x</Session>", "&lt;Session&gt;x&lt;/Session&gt;"},
        {L"q\"a'", "q&quot;a&apos;"},
        {L"a\rb", "a&#13;b"},
        {L"tab\tline\n", "tab\tline\n"},
        {L"\x01\x1F", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {L"x\xFFFE\xFFFFy", "x\xEF\xBF\xBD\xEF\xBF\xBDy"},
        {L"\xD800x", "\xEF\xBF\xBDx"},                 // high surrogate without its pair
        {L"x\xDC00", "x\xEF\xBF\xBD"},                 // low surrogate alone
        {L"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"}, // a pair in the wrong order
        {L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},         // a paired surrogate stays one character
        {L"caf\xE9", "caf\xC3\xA9"},
        {L"\x7F\x85", "\x7F\xC2\x85"}, // allowed controls pass through
        {L"{3E9B6824-12DB-43CA-983D-B1A32D32F509}", "{3E9B6824-12DB-43CA-983D-B1A32D32F509}"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.text,
                  ElementText(Compose(nullptr, 1, 2, c.value, kCountUpdateDownloadedTemplate),
                              "Session"));
        EXPECT_EQ(c.text,
                  ElementText(Compose(c.value, 0, 0, L"S", kCountToolSessionTemplate), "Browser"));
    }
}

TEST(ComposeMessage, InsertedValuesAreNeverScannedForPlaceholders)
{
    const wchar_t* session = L"${packageId}${resultId}${session}${";
    const std::string body = Compose(nullptr, 11, 0, session, kCountUpdateDownloadedTemplate);
    EXPECT_EQ("${packageId}${resultId}${session}${", ElementText(body, "Session"));
    EXPECT_EQ("11", ElementText(body, "PackageId"));
    EXPECT_EQ("0", ElementText(body, "ResultId"));

    const std::string tool = Compose(L"${session}", 0, 0, L"${browser}", kCountToolSessionTemplate);
    EXPECT_EQ("${session}", ElementText(tool, "Browser"));
    EXPECT_EQ("${browser}", ElementText(tool, "Session"));
}

TEST(ComposeMessage, UnknownTemplateGetsOnlyTheSession)
{
    static const char kOther[] = "<a>${session}</a><b>${packageId}</b><c>${</c>";
    EXPECT_EQ("<a>S</a><b>${packageId}</b><c>${</c>", Compose(nullptr, 11, 0, L"S", kOther));
}

TEST(ComposeMessage, TemplatesAreToldApartByIdentityNotText)
{
    // The same text at another address is not the CountUpdateDownloaded template.
    const std::string copy = kCountUpdateDownloadedTemplate;
    const std::string body = Compose(nullptr, 11, 0, L"S", copy.c_str());
    EXPECT_EQ("S", ElementText(body, "Session"));
    EXPECT_EQ("${packageId}", ElementText(body, "PackageId"));
}
} // namespace
