#pragma once

#include <cstddef>
#include <cstring>
#include <string>

// What escaping a URL text must give, worked out from the text alone: the
// yardstick for the generated texts. The text is taken as UTF-8 (a surrogate
// without its partner as U+FFFD); before the first "?" or "#" every control
// byte, every byte from 0x7F on and the characters space " $ & + , ; < = > @
// [ \ ] ^ ` { | } become "%" and two lower-case hex digits; from the first
// "?" or "#" on the characters stay as they are. The escaped form fits when
// it is at most kLongestEscapedUrl bytes long.
constexpr std::size_t kLongestEscapedUrl = 2082;

struct EscapeModelResult
{
    bool fits;
    std::wstring text;
    std::size_t escapedBytes;
};

inline bool ModelMustEscape(unsigned value)
{
    return value <= 0x20 || value >= 0x7F ||
           (value != 0 && std::strchr("\"$&+,;<=>@[\\]^`{|}", static_cast<int>(value)) != nullptr);
}

inline EscapeModelResult ModelEscape(const std::wstring& in)
{
    static const char hex[] = "0123456789abcdef";
    EscapeModelResult model{true, std::wstring(), 0};
    bool extraInfo = false;
    for (std::size_t i = 0; i < in.size(); ++i)
    {
        const unsigned unit = in[i];
        unsigned point = unit;
        std::wstring units(1, in[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
            in[i + 1] <= 0xDFFF)
        {
            point = 0x10000 + ((unit - 0xD800) << 10) + (static_cast<unsigned>(in[i + 1]) - 0xDC00);
            units += in[++i];
        }
        else if (unit >= 0xD800 && unit <= 0xDFFF)
        {
            point = 0xFFFD;
            units = std::wstring(1, static_cast<wchar_t>(0xFFFD));
        }
        unsigned char bytes[4];
        std::size_t count = 0;
        if (point < 0x80)
        {
            bytes[count++] = static_cast<unsigned char>(point);
        }
        else if (point < 0x800)
        {
            bytes[count++] = static_cast<unsigned char>(0xC0 | point >> 6);
            bytes[count++] = static_cast<unsigned char>(0x80 | (point & 0x3F));
        }
        else if (point < 0x10000)
        {
            bytes[count++] = static_cast<unsigned char>(0xE0 | point >> 12);
            bytes[count++] = static_cast<unsigned char>(0x80 | (point >> 6 & 0x3F));
            bytes[count++] = static_cast<unsigned char>(0x80 | (point & 0x3F));
        }
        else
        {
            bytes[count++] = static_cast<unsigned char>(0xF0 | point >> 18);
            bytes[count++] = static_cast<unsigned char>(0x80 | (point >> 12 & 0x3F));
            bytes[count++] = static_cast<unsigned char>(0x80 | (point >> 6 & 0x3F));
            bytes[count++] = static_cast<unsigned char>(0x80 | (point & 0x3F));
        }
        extraInfo = extraInfo || point == '?' || point == '#';
        if (extraInfo)
        {
            // Kept as they are, and given back as the same characters.
            model.text += units;
            model.escapedBytes += count;
            continue;
        }
        for (std::size_t b = 0; b < count; ++b)
        {
            if (ModelMustEscape(bytes[b]))
            {
                model.text += L'%';
                model.text += static_cast<wchar_t>(hex[bytes[b] >> 4]);
                model.text += static_cast<wchar_t>(hex[bytes[b] & 0x0F]);
                model.escapedBytes += 3;
            }
            else
            {
                model.text += static_cast<wchar_t>(bytes[b]);
                model.escapedBytes += 1;
            }
        }
    }
    model.fits = model.escapedBytes <= kLongestEscapedUrl;
    return model;
}
