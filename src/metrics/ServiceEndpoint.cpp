#include "metrics/ServiceEndpoint.h"

#include "common/Owners.h"
#include "metrics/HostNames.h"

#include <windows.h>

namespace
{
const wchar_t kOpmodeKey[] = L"SOFTWARE\\Tarnwell\\kaldris";
const wchar_t kOpmodeValue[] = L"Opmode";
const wchar_t kServicePath[] = L"/kaldris/Mervo3/";
const wchar_t kServiceFile[] = L"mervoservice2.asmx";

constexpr DWORD kOpmodeInternal = 0;
constexpr DWORD kOpmodeAlternate = 1;

// Process-wide, filled once; the run uses it from one thread only.
std::wstring g_serviceUrl;

// A REG_DWORD counts, a shorter one read into a value that starts at 0 (so
// the two bytes 01 00 are 1); a missing key or value, one longer than four
// bytes or another type (REG_DWORD_BIG_ENDIAN and REG_BINARY included) leave
// none.
bool ReadOpmode(DWORD& opmode)
{
    CUniqueHKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kOpmodeKey, /* ulOptions */ 0, KEY_QUERY_VALUE,
                      key.put()) != ERROR_SUCCESS)
    {
        return false;
    }
    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key.get(), kOpmodeValue, /* lpReserved */ nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
    {
        return false;
    }
    opmode = value;
    return true;
}
} // namespace

std::wstring ResolveMetricsServiceUrl()
{
    const wchar_t* host = ZORVIK_METRICS_HOST;
    DWORD opmode = 0;
    if (ReadOpmode(opmode))
    {
        if (opmode == kOpmodeInternal)
        {
            host = ZORVIK_METRICS_INTERNAL_HOST;
        }
        else if (opmode == kOpmodeAlternate)
        {
            host = ZORVIK_METRICS_ALTERNATE_HOST;
        }
    }
    return std::wstring(L"http://") + host + kServicePath + kServiceFile;
}

const std::wstring& MetricsServiceUrl()
{
    if (g_serviceUrl.empty())
    {
        g_serviceUrl = ResolveMetricsServiceUrl();
    }
    return g_serviceUrl;
}
