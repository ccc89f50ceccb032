#pragma once

#include <cstdint>
#include <string>

// The eight placeholder texts of a metric message, in the order the message
// composer takes them. Each is already in its final form: UTF-8 and
// XML-escaped for the two texts, decimal for the numbers.
struct MessageValueTexts
{
    std::string browser;
    std::string packageId;
    std::string resultId;
    std::string session;
    std::string language;
    std::string country;
    std::string os;
    std::string toolcode;
};

// Text for element content: the five special characters become entities, CR
// becomes &#13; (a parser would otherwise normalise it away), and characters
// that XML 1.0 forbids become U+FFFD. The result is UTF-8, as the request's
// Content-Type declares. A null or empty text gives an empty string.
std::string MakeXmlValueText(const wchar_t* text);

// Decimal text of a signed 32-bit value, as "%i" writes it.
std::string MakeDecimalText(std::int32_t value);

MessageValueTexts MakeMessageValueTexts(const wchar_t* browser, std::int32_t packageId,
                                        std::int32_t resultId, const wchar_t* session,
                                        std::int32_t language, std::int32_t country,
                                        std::int32_t os, std::int32_t toolcode);
