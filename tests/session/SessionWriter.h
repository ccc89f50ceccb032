#pragma once

#include <cstdint>
#include <string>

// Builds session files byte by byte: 32-bit little-endian words and counted
// UTF-16 records, well formed or not.
class CSessionWriter
{
public:
    CSessionWriter& Word(uint32_t value)
    {
        for (int shift = 0; shift < 32; shift += 8)
        {
            m_bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
        }
        return *this;
    }

    // A well-formed record: count, text, zero terminator.
    CSessionWriter& Text(const std::wstring& text)
    {
        return Record(static_cast<uint32_t>(text.size() * 2 + 2), Utf16(text), 0);
    }

    // A record as given: the count need not match the body.
    CSessionWriter& Record(uint32_t count, const std::string& body, uint16_t terminator)
    {
        Word(count);
        m_bytes += body;
        m_bytes.push_back(static_cast<char>(terminator & 0xFF));
        m_bytes.push_back(static_cast<char>(terminator >> 8));
        return *this;
    }

    CSessionWriter& Absent() { return Word(0); }
    CSessionWriter& Bytes(const std::string& bytes)
    {
        m_bytes += bytes;
        return *this;
    }

    const std::string& Data() const { return m_bytes; }

    static std::string Utf16(const std::wstring& text)
    {
        std::string bytes;
        for (const wchar_t unit : text)
        {
            bytes.push_back(static_cast<char>(unit & 0xFF));
            bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
        }
        return bytes;
    }

private:
    std::string m_bytes;
};
