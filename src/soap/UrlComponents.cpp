#include "soap/UrlComponents.h"

#include "common/StringError.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <new>

namespace
{
// Text between two boundaries is collected up to this many characters before
// it is refused; no field is that long, so the bound only protects the work
// buffer, which also holds a terminator.
constexpr size_t kMaxSegment = 2089;
constexpr size_t kWorkBufferUnits = kMaxSegment + 1;

// Longest text after a port or password colon.
constexpr size_t kMaxColonText = 128;

constexpr std::uint32_t kMaxPort = 65535;

const wchar_t* RequireText(const wchar_t* text)
{
    if (text == nullptr)
    {
        ThrowStringError(E_FAIL);
    }
    return text;
}

// Length of the text, counted no further than limit + 1: enough to tell that
// it does not fit, without walking a long text to its end.
size_t BoundedLength(const wchar_t* text, size_t limit)
{
    size_t length = 0;
    while (length <= limit && text[length] != L'\0')
    {
        ++length;
    }
    return length;
}

template <size_t N>
void StoreText(wchar_t (&field)[N], DWORD& fieldLength, const wchar_t* text, size_t length)
{
    std::copy_n(text, length, field);
    field[length] = L'\0';
    fieldLength = static_cast<DWORD>(length);
}

template <size_t N>
void ClearText(wchar_t (&field)[N], DWORD& fieldLength)
{
    std::fill(std::begin(field), std::end(field), L'\0');
    fieldLength = 0;
}

wchar_t AsciiLower(wchar_t ch)
{
    return ch >= L'A' && ch <= L'Z' ? static_cast<wchar_t>(ch - L'A' + L'a') : ch;
}

// Scheme names compare without regard to the case of A-Z only: a full case
// mapping would let non-ASCII letters (the Kelvin sign, say) match "socks".
bool EqualsIgnoringAsciiCase(const wchar_t* text, const wchar_t* name, size_t length)
{
    for (size_t i = 0; i < length; ++i)
    {
        if (AsciiLower(text[i]) != AsciiLower(name[i]))
        {
            return false;
        }
    }
    return true;
}

bool IsPortTextSpace(wchar_t ch)
{
    return ch == L' ' || (ch >= L'\t' && ch <= L'\r');
}

// Reads port text as base-10 text-to-integer conversion does: white space,
// one sign, digits up to the first non-digit, no digits giving 0. A value
// that no port can have is refused rather than cut to 16 bits.
bool ReadPort(const wchar_t* text, size_t length, INTERNET_PORT& port)
{
    size_t i = 0;
    while (i < length && IsPortTextSpace(text[i]))
    {
        ++i;
    }
    bool negative = false;
    if (i < length && (text[i] == L'+' || text[i] == L'-'))
    {
        negative = text[i] == L'-';
        ++i;
    }
    std::uint32_t value = 0;
    for (; i < length && text[i] >= L'0' && text[i] <= L'9'; ++i)
    {
        value = value * 10 + static_cast<std::uint32_t>(text[i] - L'0');
        if (value > kMaxPort)
        {
            return false;
        }
    }
    if (negative && value != 0)
    {
        return false;
    }
    port = static_cast<INTERNET_PORT>(value);
    return true;
}

// One left-to-right walk over the URL text. Every step that refuses the URL
// returns false; the caller then clears the record.
class CUrlParser
{
public:
    CUrlParser(CUrlComponents& url, const wchar_t* text, wchar_t* workBuffer) noexcept
        : m_url(url),
          m_position(text),
          m_segment(workBuffer)
    {
    }

    bool Parse()
    {
        if (!ParseAuthority() || !m_schemeSeen)
        {
            return false;
        }
        // The file scheme has no query or fragment: "?" and "#" are part of
        // its path.
        if (!CollectSegment(m_url.m_schemeId != SchemeFile) ||
            !StoreCollected(m_url.m_path, m_url.m_pathLength))
        {
            return false;
        }
        if (!CollectSegment(false) || !StoreCollected(m_url.m_extraInfo, m_url.m_extraInfoLength))
        {
            return false;
        }
        ApplyPort();
        return true;
    }

private:
    // Scheme, user information, host and port. Ends on the character that
    // begins the path or the extra information, or on the terminator.
    bool ParseAuthority()
    {
        while (*m_position != L'\0')
        {
            if (m_segmentLength == kMaxSegment)
            {
                return false;
            }
            const wchar_t ch = *m_position;
            if (ch == L':' && !m_insideBrackets && !m_schemeSeen)
            {
                if (!TakeScheme())
                {
                    return false;
                }
                if (m_enteredPath)
                {
                    return true;
                }
            }
            else if (ch == L':' && !m_insideBrackets && (!m_userInfoSeen || !m_portSeen))
            {
                if (!TakeColonText())
                {
                    return false;
                }
                m_segmentLength = 0;
            }
            else if (ch == L'@')
            {
                if (m_userInfoSeen || !m_url.AssignUserName(SegmentText()))
                {
                    return false;
                }
                m_userInfoSeen = true;
                m_insideBrackets = false;
                ++m_position;
                m_segmentLength = 0;
            }
            else if (ch == L'/' || ch == L'?' || m_position[1] == L'\0')
            {
                // A "/" or "?" stays: it begins the path or the extra
                // information. A last character of any other kind ends the host.
                if (ch != L'/' && ch != L'?')
                {
                    if (m_segmentLength == kMaxSegment - 1)
                    {
                        return false;
                    }
                    m_segment[m_segmentLength++] = ch;
                    ++m_position;
                }
                if (!m_hostSeen && !m_url.AssignHostName(SegmentText()))
                {
                    return false;
                }
                m_segmentLength = 0;
                return true;
            }
            else
            {
                if (ch == L'[' && m_schemeSeen && !m_hostSeen)
                {
                    m_insideBrackets = true;
                }
                else if (ch == L']')
                {
                    m_insideBrackets = false;
                }
                m_segment[m_segmentLength++] = ch;
                ++m_position;
            }
        }
        return true;
    }

    // The position is on the first colon outside brackets.
    bool TakeScheme()
    {
        if (!m_url.AssignScheme(SegmentText()))
        {
            return false;
        }
        m_schemeSeen = true;
        m_segmentLength = 0;
        if (m_position[1] == L'/' && m_position[2] == L'/')
        {
            if (m_url.m_schemeId == SchemeMailto)
            {
                return false;
            }
            m_position += 3;
        }
        else if (m_position[1] == L'/')
        {
            // "scheme:/x": no authority, the slash begins the path.
            ++m_position;
            m_enteredPath = true;
            return true;
        }
        else
        {
            ++m_position;
        }
        m_enteredPath = m_url.m_schemeId == SchemeFile;
        return true;
    }

    // The position is on a colon after the scheme: the segment before it is
    // a host with a port after it, or a user name with a password after it.
    bool TakeColonText()
    {
        const wchar_t* const text = m_position + 1;
        size_t length = 0;
        while (length <= kMaxColonText && text[length] != L'\0' && text[length] != L'/' &&
               text[length] != L'@')
        {
            ++length;
        }
        if (length > kMaxColonText)
        {
            return false;
        }
        const wchar_t stop = text[length];
        if (!m_portSeen && (stop == L'/' || stop == L'\0'))
        {
            INTERNET_PORT port = 0;
            if (!m_url.AssignHostName(SegmentText()) || !ReadPort(text, length, port))
            {
                return false;
            }
            m_url.m_port = port;
            m_hostSeen = true;
            m_portSeen = true;
            m_position = text + length;
            return true;
        }
        if (stop == L'@' && !m_userInfoSeen)
        {
            if (!m_url.AssignUserName(SegmentText()))
            {
                return false;
            }
            // The user name is stored; the work buffer now takes the password
            // to give it a terminator.
            std::copy_n(text, length, m_segment);
            m_segmentLength = length;
            if (!m_url.AssignPassword(SegmentText()))
            {
                return false;
            }
            m_userInfoSeen = true;
            m_position = text + length + 1;
            return true;
        }
        return false;
    }

    // Collects up to the terminator or, when asked, up to the first "?" or
    // "#", which is left for the extra information.
    bool CollectSegment(bool stopAtExtraInfo)
    {
        m_segmentLength = 0;
        for (; *m_position != L'\0'; ++m_position)
        {
            const wchar_t ch = *m_position;
            if (stopAtExtraInfo && (ch == L'?' || ch == L'#'))
            {
                break;
            }
            if (m_segmentLength == kMaxSegment)
            {
                return false;
            }
            m_segment[m_segmentLength++] = ch;
        }
        return true;
    }

    // An empty segment leaves the field as it was. The field's last unit is
    // kept for the terminator.
    template <size_t N>
    bool StoreCollected(wchar_t (&field)[N], DWORD& fieldLength)
    {
        if (m_segmentLength > N - 1)
        {
            return false;
        }
        if (m_segmentLength > 0)
        {
            StoreText(field, fieldLength, m_segment, m_segmentLength);
        }
        return true;
    }

    void ApplyPort()
    {
        const std::int32_t id = m_url.m_schemeId;
        if (id == SchemeFile || id == SchemeNews || id == SchemeMailto)
        {
            m_url.m_port = 0;
        }
        else if (!m_portSeen)
        {
            m_url.m_port = id >= 0 && id < kUrlSchemeCount
                               ? UrlSchemeTable[static_cast<size_t>(id)].defaultPort
                               : INTERNET_PORT{0};
        }
    }

    const wchar_t* SegmentText() noexcept
    {
        m_segment[m_segmentLength] = L'\0';
        return m_segment;
    }

    CUrlComponents& m_url;
    const wchar_t* m_position;
    wchar_t* m_segment;
    size_t m_segmentLength = 0;
    bool m_schemeSeen = false;
    bool m_userInfoSeen = false;
    bool m_hostSeen = false;
    bool m_portSeen = false;
    bool m_insideBrackets = false;
    bool m_enteredPath = false;
};
} // namespace

void CUrlComponents::ClearComponents() noexcept
{
    ClearText(m_schemeName, m_schemeNameLength);
    ClearText(m_hostName, m_hostNameLength);
    ClearText(m_userName, m_userNameLength);
    ClearText(m_password, m_passwordLength);
    ClearText(m_path, m_pathLength);
    ClearText(m_extraInfo, m_extraInfoLength);
    m_port = 0;
    m_schemeId = SchemeOther;
}

CUrlComponents& CUrlComponents::InitHttpDefaults() noexcept
{
    ClearComponents();
    const UrlSchemeRow& http = UrlSchemeTable[SchemeHttp];
    StoreText(m_schemeName, m_schemeNameLength, http.name, http.nameLength);
    m_schemeId = SchemeHttp;
    m_port = http.defaultPort;
    return *this;
}

bool CUrlComponents::ParseUrl(const wchar_t* text)
{
    RequireText(text);
    const std::unique_ptr<wchar_t[]> workBuffer(new (std::nothrow) wchar_t[kWorkBufferUnits]);
    if (!workBuffer)
    {
        ThrowStringError(E_OUTOFMEMORY);
    }
    CUrlParser parser(*this, text, workBuffer.get());
    if (!parser.Parse())
    {
        ClearComponents();
        return false;
    }
    return true;
}

bool CUrlComponents::AssignScheme(const wchar_t* text)
{
    const size_t length = BoundedLength(RequireText(text), kMaxSchemeName);
    for (size_t id = 0; id < std::size(UrlSchemeTable); ++id)
    {
        const UrlSchemeRow& row = UrlSchemeTable[id];
        if (length == row.nameLength && EqualsIgnoringAsciiCase(text, row.name, length))
        {
            // The text as written, so a scheme in capitals stays in capitals.
            StoreText(m_schemeName, m_schemeNameLength, text, length);
            m_schemeId = static_cast<std::int32_t>(id);
            m_port = row.defaultPort;
            return true;
        }
    }
    if (length > kMaxSchemeName)
    {
        return false;
    }
    StoreText(m_schemeName, m_schemeNameLength, text, length);
    m_schemeId = SchemeOther;
    m_port = 0;
    return true;
}

bool CUrlComponents::AssignHostName(const wchar_t* text)
{
    const size_t length = BoundedLength(RequireText(text), kMaxHostName);
    if (length > kMaxHostName)
    {
        return false;
    }
    StoreText(m_hostName, m_hostNameLength, text, length);
    return true;
}

bool CUrlComponents::AssignUserName(const wchar_t* text)
{
    const size_t length = BoundedLength(RequireText(text), kMaxUserName);
    if (length > kMaxUserName)
    {
        return false;
    }
    StoreText(m_userName, m_userNameLength, text, length);
    return true;
}

bool CUrlComponents::AssignPassword(const wchar_t* text)
{
    const size_t length = BoundedLength(RequireText(text), kMaxPassword);
    if (length > kMaxPassword || (length > 0 && m_userNameLength == 0))
    {
        return false;
    }
    StoreText(m_password, m_passwordLength, text, length);
    return true;
}
