#include "HttpFetch.h"

#include "common/Owners.h"

#include <cstring>

std::string FetchUrl(const std::wstring& url)
{
    CUniqueHInternet session(
        InternetOpenW(L"test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!session)
    {
        return std::string();
    }
    CUniqueHInternet request(InternetOpenUrlW(session.get(), url.c_str(), nullptr, 0,
                                              INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE,
                                              0));
    std::string body;
    char buffer[4096];
    DWORD read = 0;
    while (request && InternetReadFile(request.get(), buffer, sizeof(buffer), &read) && read != 0)
    {
        body.append(buffer, read);
    }
    return body;
}

std::wstring LoopbackPort(const char* name)
{
    const std::string variable = std::string("ZORVIK_TEST_") + name + "_PORT";
    char value[16] = {};
    if (GetEnvironmentVariableA(variable.c_str(), value, sizeof(value)) == 0)
    {
        return std::wstring();
    }
    return std::wstring(value, value + strlen(value));
}
