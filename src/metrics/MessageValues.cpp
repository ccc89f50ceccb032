#include "metrics/MessageValues.h"

#include "common/Strings.h"

#include <windows.h>

namespace
{
constexpr wchar_t kReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(wchar_t ch)
{
    return ch >= 0xD800 && ch <= 0xDBFF;
}
bool IsLowSurrogate(wchar_t ch)
{
    return ch >= 0xDC00 && ch <= 0xDFFF;
}

bool IsForbiddenInXml(wchar_t ch)
{
    return (ch < 0x20 && ch != L'\t' && ch != L'\n' && ch != L'\r') || ch == 0xFFFE || ch == 0xFFFF;
}

std::wstring EscapeXmlText(const wchar_t* text)
{
    std::wstring escaped;
    for (const wchar_t* p = text; *p != L'\0'; ++p)
    {
        const wchar_t ch = *p;
        switch (ch)
        {
        case L'&': escaped += L"&amp;"; continue;
        case L'<': escaped += L"&lt;"; continue;
        case L'>': escaped += L"&gt;"; continue;
        case L'"': escaped += L"&quot;"; continue;
        case L'\'': escaped += L"&apos;"; continue;
        case L'\r': escaped += L"&#13;"; continue;
        default: break;
        }
        if (IsHighSurrogate(ch) && IsLowSurrogate(p[1]))
        {
            escaped += ch;
            escaped += *++p;
        }
        else if (IsHighSurrogate(ch) || IsLowSurrogate(ch) || IsForbiddenInXml(ch))
        {
            escaped += kReplacementCharacter;
        }
        else
        {
            escaped += ch;
        }
    }
    return escaped;
}
} // namespace

std::string MakeXmlValueText(const wchar_t* text)
{
    if (text == nullptr || *text == L'\0')
    {
        return std::string();
    }
    return WideToNarrow(EscapeXmlText(text).c_str(), CP_UTF8);
}

std::string MakeDecimalText(std::int32_t value)
{
    return std::to_string(value);
}

MessageValueTexts MakeMessageValueTexts(const wchar_t* browser, std::int32_t packageId,
                                        std::int32_t resultId, const wchar_t* session,
                                        std::int32_t language, std::int32_t country,
                                        std::int32_t os, std::int32_t toolcode)
{
    MessageValueTexts texts;
    texts.browser = MakeXmlValueText(browser);
    texts.packageId = MakeDecimalText(packageId);
    texts.resultId = MakeDecimalText(resultId);
    texts.session = MakeXmlValueText(session);
    texts.language = MakeDecimalText(language);
    texts.country = MakeDecimalText(country);
    texts.os = MakeDecimalText(os);
    texts.toolcode = MakeDecimalText(toolcode);
    return texts;
}
