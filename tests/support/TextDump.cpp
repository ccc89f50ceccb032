#include "TextDump.h"

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace
{
// Items shown from the start and from the end of a long input.
constexpr std::size_t kHeadItems = 96;
constexpr std::size_t kTailItems = 32;
// Repeats shown as one value and a count.
constexpr std::size_t kShortestRun = 6;

std::string HexByte(unsigned value)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
    return text;
}

std::string Unit(unsigned value, bool wide)
{
    if (value >= 0x20 && value < 0x7F && value != '\\')
    {
        return std::string(1, static_cast<char>(value));
    }
    char text[8];
    std::snprintf(text, sizeof text, wide ? "\\u%04x" : "\\x%02x", value);
    return text;
}

// Shows the items of a sequence with `show`, runs compressed and the middle
// of a long sequence left out.
template <typename Item, typename Show>
std::string Describe(std::basic_string_view<Item> items, const char* unitName,
                     const char* separator, Show show)
{
    std::string text = std::to_string(items.size()) + " " + unitName + ": ";
    std::size_t shown = 0;
    std::size_t i = 0;
    const auto emit = [&](std::size_t at, std::size_t& next) {
        std::size_t run = 1;
        while (at + run < items.size() && items[at + run] == items[at])
        {
            ++run;
        }
        if (shown > 0)
        {
            text += separator;
        }
        if (run >= kShortestRun)
        {
            text += "{" + show(items[at]) + " x" + std::to_string(run) + "}";
            next = at + run;
        }
        else
        {
            text += show(items[at]);
            next = at + 1;
        }
        ++shown;
    };
    while (i < items.size() && shown < kHeadItems)
    {
        emit(i, i);
    }
    if (i < items.size())
    {
        std::size_t tail = items.size() > kTailItems ? items.size() - kTailItems : 0;
        if (tail > i)
        {
            text += std::string(separator) + "... (" + std::to_string(tail - i) + " left out)";
            i = tail;
        }
        while (i < items.size())
        {
            emit(i, i);
        }
    }
    return text;
}
} // namespace

std::string DescribeBytes(const std::string& bytes)
{
    return Describe<char>(bytes, "bytes", " ",
                          [](char value) { return HexByte(static_cast<unsigned char>(value)); });
}

std::string DescribeText(const std::wstring& text)
{
    return Describe<wchar_t>(
        text, "units", "", [](wchar_t value) { return Unit(static_cast<unsigned>(value), true); });
}

std::string DescribeNarrowText(const std::string& text)
{
    return Describe<char>(text, "bytes", "", [](char value) {
        return Unit(static_cast<unsigned char>(value), false);
    });
}
