#include "common/ComOwner.h"
#include "metrics/ComposeMessage.h"
#include "metrics/MessageTemplates.h"
#include "metrics/MessageValues.h"
#include "TestGenerator.h"
#include "TextDump.h"
#include "XmlJudge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{
constexpr int kReportedMismatches = 8;

const wchar_t kSoapEnvelopeNamespace[] = L"http://schemas.xmlsoap.org/soap/envelope/";

// Which value an element of a message carries.
enum class EValue
{
    Browser,
    PackageId,
    ResultId,
    Session,
    Language,
    Country,
    Os,
    ToolCode,
};

struct MessageChild
{
    const wchar_t* name;
    EValue value;
};

// The seven messages: the operation and its children in order.
struct MessageShape
{
    const char* messageTemplate;
    const wchar_t* operation;
    std::vector<MessageChild> children;
};

const MessageShape kMessages[] = {
    {kCountSessionTemplate,
     L"CountSession",
     {{L"Browser", EValue::Browser},
      {L"Language", EValue::Language},
      {L"Country", EValue::Country},
      {L"Os", EValue::Os},
      {L"Session", EValue::Session}}},
    {kCountUpdateRecommendedTemplate,
     L"CountUpdateRecommended",
     {{L"PackageId", EValue::PackageId}, {L"Session", EValue::Session}}},
    {kCountUpdateSelectedTemplate,
     L"CountUpdateSelected",
     {{L"PackageId", EValue::PackageId}, {L"Session", EValue::Session}}},
    {kCountUpdateDownloadedTemplate,
     L"CountUpdateDownloaded",
     {{L"PackageId", EValue::PackageId},
      {L"ResultId", EValue::ResultId},
      {L"Session", EValue::Session}}},
    {kCountUpdateInstalledTemplate,
     L"CountUpdateInstalled",
     {{L"PackageId", EValue::PackageId},
      {L"ResultId", EValue::ResultId},
      {L"Session", EValue::Session}}},
    {kCountUpdateHiddenTemplate,
     L"CountUpdateHidden",
     {{L"PackageId", EValue::PackageId}, {L"Session", EValue::Session}}},
    {kCountToolSessionTemplate,
     L"CountToolSession",
     {{L"ToolCode", EValue::ToolCode},
      {L"Browser", EValue::Browser},
      {L"Session", EValue::Session}}},
};

// The values of one metric, as a caller hands them over.
struct MessageInputs
{
    bool browserAbsent = false;
    std::wstring browser;
    std::wstring session;
    std::int32_t packageId = 0;
    std::int32_t resultId = 0;
    std::int32_t language = 0;
    std::int32_t country = 0;
    std::int32_t os = 0;
    std::int32_t toolcode = 0;
};

// What XML can carry of a text: the characters that XML 1.0 allows, every
// other one (C0 controls but TAB, LF and CR; U+FFFE; U+FFFF; a surrogate
// without its partner) as U+FFFD.
std::wstring XmlCharacters(const std::wstring& text)
{
    constexpr wchar_t kReplacement = 0xFFFD;
    std::wstring characters;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const wchar_t unit = text[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
        {
            characters += unit;
            characters += text[++i];
        }
        else if ((unit >= 0xD800 && unit <= 0xDFFF) || unit == 0xFFFE || unit == 0xFFFF ||
                 (unit < 0x20 && unit != L'\t' && unit != L'\n' && unit != L'\r'))
        {
            characters += kReplacement;
        }
        else
        {
            characters += unit;
        }
    }
    return characters;
}

std::wstring Decimal(std::int32_t value)
{
    const std::int64_t wide = value;
    std::uint64_t magnitude = static_cast<std::uint64_t>(wide < 0 ? -wide : wide);
    std::wstring digits;
    do
    {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    return wide < 0 ? L"-" + digits : digits;
}

std::wstring ExpectedText(const MessageInputs& inputs, EValue value)
{
    switch (value)
    {
    case EValue::Browser:
        return inputs.browserAbsent ? std::wstring() : XmlCharacters(inputs.browser);
    case EValue::PackageId: return Decimal(inputs.packageId);
    case EValue::ResultId: return Decimal(inputs.resultId);
    case EValue::Session: return XmlCharacters(inputs.session);
    case EValue::Language: return Decimal(inputs.language);
    case EValue::Country: return Decimal(inputs.country);
    case EValue::Os: return Decimal(inputs.os);
    case EValue::ToolCode: return Decimal(inputs.toolcode);
    }
    return std::wstring();
}

// A text of every kind of UTF-16 unit that XML treats specially: the five
// escaped characters, CR, LF and TAB, other C0 controls, U+FFFE and U+FFFF,
// surrogates alone and in pairs, placeholder texts, markup look-alikes.
std::wstring RandomValue(CTestGenerator& generator)
{
    static const wchar_t* const pieces[] = {
        L"${session}", L"${browser}", L"${packageId}", L"${resultId}", L"${language}",
        L"${country}", L"${os}",      L"${toolcode}",  L"${",          L"$",
        L"}",          L"]]>",        L"<![CDATA[",    L"&amp;",       L"&#13;",
        L"<Session>",  L"</Session>", L"<!--",         L"<?x?>",       L"\r\n",
    };
    if (generator.OneIn(12))
    {
        // White space alone, which a careless parser or reader drops.
        std::wstring space;
        for (std::uint32_t n = generator.Between(1, 6); n > 0; --n)
        {
            space += L" \t\r\n"[generator.Below(4)];
        }
        return space;
    }
    const std::uint32_t length = generator.OneIn(10) ? generator.Below(2000) : generator.Below(40);
    std::wstring text;
    while (text.size() < length)
    {
        switch (generator.Below(14))
        {
        case 0: text += L"&<>\"'"[generator.Below(5)]; break;
        case 1: text += L'\r'; break;
        case 2: text += generator.OneIn(2) ? L'\n' : L'\t'; break;
        case 3: text += static_cast<wchar_t>(generator.Between(1, 0x1F)); break;
        case 4: text += static_cast<wchar_t>(generator.Between(0xFFFE, 0xFFFF)); break;
        case 5: text += static_cast<wchar_t>(generator.Between(0xD800, 0xDBFF)); break;
        case 6: text += static_cast<wchar_t>(generator.Between(0xDC00, 0xDFFF)); break;
        case 7:
            text += static_cast<wchar_t>(generator.Between(0xD800, 0xDBFF));
            text += static_cast<wchar_t>(generator.Between(0xDC00, 0xDFFF));
            break;
        case 8: text += generator.Pick(pieces); break;
        case 9: text += static_cast<wchar_t>(generator.Between(0x80, 0xD7FF)); break;
        case 10: text += static_cast<wchar_t>(generator.Between(0xE000, 0xFFFD)); break;
        default: text += static_cast<wchar_t>(generator.Between(0x20, 0x7E)); break;
        }
    }
    return text;
}

std::int32_t RandomNumber(CTestGenerator& generator)
{
    static const std::int32_t numbers[] = {0, 1, -1, 8, 11, INT_MAX, INT_MIN};
    return generator.OneIn(2) ? generator.Pick(numbers)
                              : static_cast<std::int32_t>(generator.Word());
}

std::wstring Widen(const char* ascii)
{
    return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii));
}

class MessageGeneratedTest : public ::testing::Test
{
protected:
    MessageGeneratedTest() : m_apartment(COINIT_APARTMENTTHREADED) {}

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(m_apartment.Result()));
        ASSERT_EQ(S_OK, m_judge.Create());
    }

    // Composes one message and has the judge read it back. Returns false once
    // enough failures have been shown.
    bool Check(const MessageInputs& inputs, const MessageShape& shape)
    {
        ++m_bodies;
        const std::string body = ComposeMessage(
            MakeMessageValueTexts(inputs.browserAbsent ? nullptr : inputs.browser.c_str(),
                                  inputs.packageId, inputs.resultId, inputs.session.c_str(),
                                  inputs.language, inputs.country, inputs.os, inputs.toolcode),
            shape.messageTemplate);
        m_bodyBytes += body.size();
        const std::string problem = Judge(inputs, shape, body);
        if (!problem.empty())
        {
            ++m_mismatches;
            if (m_mismatches <= kReportedMismatches)
            {
                ADD_FAILURE() << NarrowName(shape.operation) << ", body " << m_bodies << ": "
                              << problem << "\n  session " << DescribeText(inputs.session)
                              << "\n  browser "
                              << (inputs.browserAbsent ? std::string("absent")
                                                       : DescribeText(inputs.browser))
                              << "\n  body " << DescribeNarrowText(body);
            }
        }
        return m_mismatches < kReportedMismatches;
    }

    std::string Judge(const MessageInputs& inputs, const MessageShape& shape,
                      const std::string& body)
    {
        std::wstring reason;
        if (!m_judge.Load(body, reason))
        {
            return "not well formed: " + DescribeText(reason);
        }
        const CComOwner<IXMLDOMNode> envelope = m_judge.Root();
        if (!envelope || NodeName(envelope.get()) != L"soap:Envelope" ||
            NamespaceUri(envelope.get()) != kSoapEnvelopeNamespace)
        {
            return "no SOAP envelope";
        }
        const auto envelopeChildren = ChildElements(envelope.get());
        if (envelopeChildren.size() != 1 || NodeName(envelopeChildren[0].get()) != L"soap:Body")
        {
            return "the envelope holds other than one body";
        }
        const auto operations = ChildElements(envelopeChildren[0].get());
        if (operations.size() != 1 || NodeName(operations[0].get()) != shape.operation ||
            NamespaceUri(operations[0].get()) != Widen(kMetricsNamespaceUri))
        {
            return "the body holds other than the operation in the metrics namespace";
        }
        const auto children = ChildElements(operations[0].get());
        std::string problem;
        if (children.size() != shape.children.size())
        {
            problem = std::to_string(children.size()) + " children instead of " +
                      std::to_string(shape.children.size()) + "; ";
        }
        for (std::size_t i = 0; i < children.size() && i < shape.children.size(); ++i)
        {
            const std::wstring name = NodeName(children[i].get());
            bool onlyText = false;
            const std::wstring text = CharacterContent(children[i].get(), onlyText);
            const std::wstring expected = ExpectedText(inputs, shape.children[i].value);
            problem += RawFormProblem(body, shape.children[i].name);
            if (name != shape.children[i].name || !onlyText || text != expected)
            {
                problem += "child " + std::to_string(i) + " " + DescribeText(name) +
                           (onlyText ? "" : " has more than text") + "\n    text     " +
                           DescribeText(text) + "\n    expected " + DescribeText(expected) + "; ";
            }
        }
        return problem;
    }

    // A parser gives back a bare quote or ">" just as it gives back its
    // reference, so the value's form in the body is checked as well: the five
    // special characters and CR appear only as references.
    static std::string RawFormProblem(const std::string& body, const wchar_t* name)
    {
        static const char* const references[] = {"&amp;",  "&lt;",   "&gt;",
                                                 "&quot;", "&apos;", "&#13;"};
        const std::string open = "<" + NarrowName(name) + ">";
        const std::size_t start = body.find(open);
        const std::size_t end = body.find("</" + NarrowName(name) + ">", start);
        if (start == std::string::npos || end == std::string::npos)
        {
            return "no " + open + "; ";
        }
        for (std::size_t at = start + open.size(); at < end; ++at)
        {
            const char ch = body[at];
            bool reference = false;
            for (const char* known : references)
            {
                reference = reference || body.compare(at, std::strlen(known), known) == 0;
            }
            if (ch == '"' || ch == '\'' || ch == '<' || ch == '>' || ch == '\r' ||
                (ch == '&' && !reference))
            {
                return open + " holds " + DescribeNarrowText(std::string(1, ch)) +
                       " unescaped at byte " + std::to_string(at) + "; ";
            }
        }
        return std::string();
    }

    static std::string NarrowName(const wchar_t* name)
    {
        std::string narrow;
        for (const wchar_t* p = name; *p != L'\0'; ++p)
        {
            narrow += static_cast<char>(*p);
        }
        return narrow;
    }

    CComApartment m_apartment;
    CXmlJudge m_judge;
    CTestGenerator m_generator;
    int m_mismatches = 0;
    std::size_t m_bodies = 0;
    std::size_t m_bodyBytes = 0;
};

// The judge must refuse what XML forbids, or its verdicts on the generated
// bodies would prove nothing.
TEST_F(MessageGeneratedTest, TheJudgeRefusesWhatXmlForbids)
{
    const struct
    {
        const char* name;
        std::string content;
    } forbidden[] = {
        {"bare ampersand", "a&b"},     {"bare less-than", "a<b"},
        {"unknown entity", "&nbsp;"},  {"control 0x01", "a\x01"},
        {"control 0x1F", "\x1F"},      {"U+FFFE", "\xEF\xBF\xBE"},
        {"U+FFFF", "\xEF\xBF\xBF"},    {"encoded surrogate", "\xED\xA0\x80"},
        {"cut UTF-8", "\xC3"},         {"byte 0xFF", "\xFF"},
        {"reference to 0x01", "&#1;"},
    };
    for (const auto& c : forbidden)
    {
        std::wstring reason;
        EXPECT_FALSE(m_judge.Load("<a>" + c.content + "</a>", reason)) << c.name;
    }
    const struct
    {
        const char* name;
        std::string content;
        std::wstring text;
    } allowed[] = {
        {"escaped CR", "a&#13;b", L"a\rb"},
        {"raw CR, normalised", "a\rb\r\nc", L"a\nb\nc"},
        {"entities", "&amp;&lt;&gt;&quot;&apos;", L"&<>\"'"},
        {"white space alone", " \t\n", L" \t\n"},
        {"UTF-8", "\xC3\xA9\xF0\x9F\x98\x80", L"\xE9\xD83D\xDE00"},
    };
    for (const auto& c : allowed)
    {
        std::wstring reason;
        ASSERT_TRUE(m_judge.Load("<a>" + c.content + "</a>", reason))
            << c.name << DescribeText(reason);
        bool onlyText = false;
        EXPECT_EQ(c.text, CharacterContent(m_judge.Root().get(), onlyText)) << c.name;
        EXPECT_TRUE(onlyText) << c.name;
    }
}

TEST_F(MessageGeneratedTest, EveryMessageIsWellFormedWithTheValuesAsItsText)
{
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 5000; ++i)
    {
        MessageInputs inputs;
        inputs.session = RandomValue(m_generator);
        inputs.browserAbsent = m_generator.OneIn(8);
        if (!inputs.browserAbsent)
        {
            inputs.browser = RandomValue(m_generator);
        }
        inputs.packageId = RandomNumber(m_generator);
        inputs.resultId = RandomNumber(m_generator);
        inputs.language = RandomNumber(m_generator);
        inputs.country = RandomNumber(m_generator);
        inputs.os = RandomNumber(m_generator);
        inputs.toolcode = RandomNumber(m_generator);
        for (const MessageShape& shape : kMessages)
        {
            if (!Check(inputs, shape))
            {
                return;
            }
        }
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    std::printf("  %zu bodies (%zu bytes) judged in %lld ms\n", m_bodies, m_bodyBytes,
                static_cast<long long>(elapsed.count()));
}
} // namespace
