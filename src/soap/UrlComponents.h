#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>

// Scheme ids; each known one indexes its row of UrlSchemeTable.
enum UrlScheme : std::int32_t
{
    SchemeOther = -1,
    SchemeFtp = 0,
    SchemeGopher = 1,
    SchemeHttp = 2,
    SchemeHttps = 3,
    SchemeFile = 4,
    SchemeNews = 5,
    SchemeMailto = 6,
    SchemeSocks = 7,
};

struct UrlSchemeRow
{
    const wchar_t* name;
    DWORD nameLength;
    INTERNET_PORT defaultPort;
};

constexpr std::int32_t kUrlSchemeCount = 8;

inline constexpr UrlSchemeRow UrlSchemeTable[kUrlSchemeCount] = {
    {L"ftp", 3, 21}, {L"gopher", 6, 70}, {L"http", 4, 80},  {L"https", 5, 443},
    {L"file", 4, 0}, {L"news", 4, 0},    {L"mailto", 6, 0}, {L"socks", 5, 1080},
};

// A URL split into its parts. Every part lives in a fixed field, so the
// record owns no memory; a URL with a part that does not fit is refused.
class CUrlComponents
{
public:
    // Longest text of each field, terminator not counted.
    static constexpr DWORD kMaxSchemeName = 32;
    static constexpr DWORD kMaxHostName = 256;
    static constexpr DWORD kMaxUserName = 128;
    static constexpr DWORD kMaxPassword = 128;
    static constexpr DWORD kMaxPath = 2048;
    static constexpr DWORD kMaxExtraInfo = 2048;

    CUrlComponents() noexcept = default;

    // Empty texts, zero lengths, port 0, scheme id SchemeOther.
    void ClearComponents() noexcept;

    // Cleared, then scheme "http" with its id and port 80.
    CUrlComponents& InitHttpDefaults() noexcept;

    // Splits a terminated URL into the record. Only the parts found are
    // written, so the record should be cleared first; on failure it is left
    // cleared. A null text raises CStringError(E_FAIL), a work buffer that
    // can't be had CStringError(E_OUTOFMEMORY).
    bool ParseUrl(const wchar_t* text);

    // Each stores one part with its length, or returns false and changes
    // nothing when the text does not fit. A null text raises
    // CStringError(E_FAIL).
    bool AssignScheme(const wchar_t* text);
    bool AssignHostName(const wchar_t* text);
    bool AssignUserName(const wchar_t* text);
    // Also false for a non-empty password without a user name.
    bool AssignPassword(const wchar_t* text);

    wchar_t m_schemeName[kMaxSchemeName + 1] = {};
    wchar_t m_hostName[kMaxHostName + 1] = {};
    wchar_t m_userName[kMaxUserName + 1] = {};
    wchar_t m_password[kMaxPassword + 1] = {};
    wchar_t m_path[kMaxPath + 1] = {};
    wchar_t m_extraInfo[kMaxExtraInfo + 1] = {};
    INTERNET_PORT m_port = 0;
    std::int32_t m_schemeId = SchemeOther;
    DWORD m_schemeNameLength = 0;
    DWORD m_hostNameLength = 0;
    DWORD m_userNameLength = 0;
    DWORD m_passwordLength = 0;
    DWORD m_pathLength = 0;
    DWORD m_extraInfoLength = 0;
};
