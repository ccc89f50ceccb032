#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

// What reading a session file must give, worked out from the bytes alone: the
// yardstick for the generated files. It follows the file format, not the
// reader's code: two header words, six records of a 32-bit count N (0 absent,
// 1 invalid, at most 0x100000, text of N - 2 bytes and a zero 16-bit
// terminator), the identifier being the sixth record's whole UTF-16 units up
// to the first NUL.
struct SessionModelResult
{
    HRESULT result;
    std::wstring id;
};

inline SessionModelResult ModelSessionFile(const std::string& bytes)
{
    const auto byteAt = [&bytes](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]));
    };
    const std::size_t size = bytes.size();
    // A file too short for the header leaves nothing for the first record.
    std::size_t at = size < 8 ? size : 8;
    std::wstring id;
    for (int record = 1; record <= 6; ++record)
    {
        if (size - at < 4)
        {
            return {E_FAIL, L""};
        }
        const std::uint32_t count =
            byteAt(at) | byteAt(at + 1) << 8 | byteAt(at + 2) << 16 | byteAt(at + 3) << 24;
        at += 4;
        id.clear();
        if (count == 0)
        {
            continue;
        }
        if (count == 1)
        {
            return {E_FAIL, L""};
        }
        if (count > 0x100000)
        {
            return {E_ACCESSDENIED, L""};
        }
        const std::size_t textBytes = count - 2;
        if (size - at < textBytes + 2)
        {
            return {E_FAIL, L""};
        }
        for (std::size_t unit = 0; unit + 1 < textBytes; unit += 2)
        {
            const auto value = static_cast<wchar_t>(byteAt(at + unit) | byteAt(at + unit + 1) << 8);
            if (value == L'\0')
            {
                break;
            }
            id += value;
        }
        at += textBytes;
        if (byteAt(at) != 0 || byteAt(at + 1) != 0)
        {
            return {E_FAIL, L""};
        }
        at += 2;
    }
    return {S_OK, id};
}
