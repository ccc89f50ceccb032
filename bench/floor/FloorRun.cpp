// The floor of a reporting run, for the whole-run benchmark: the platform
// calls the program makes, in its order and with its arguments, and none of
// its own work. Bodies and headers are finished constants, the session file
// is read in one sweep and not parsed, and no result is looked at beyond
// skipping a call that a failed one left nothing for.
#include "FloorMessages.h"

#include "common/ComOwner.h"
#include "common/Owners.h"
#include "metrics/SaxContentHandlerImpl.h"
#include "metrics/SaxReaderClass.h"

#include <windows.h>
#include <msxml2.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wininet.h>

#include <string>

namespace
{
const wchar_t kUserAgent[] = L"Zorvik Rules Engine/2.0";
const wchar_t kObjectName[] = L"/kaldris/Mervo3/mervoservice2.asmx";
const wchar_t kSessionFileTail[] = L"\\ZorvikUpdate\\ZorvikUpdate.session";
const wchar_t kOpmodeKey[] = L"SOFTWARE\\Tarnwell\\kaldris";
const wchar_t kOpmodeValue[] = L"Opmode";
const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRunOnceValue[] = L"ZorvikSoftwareUpdate";
constexpr DWORD kRequestFlags =
    INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_UI;
constexpr DWORD kReadChunkBytes = 4096;

class CFloorContentHandler final : public ISAXContentHandlerImpl
{
public:
    HRESULT STDMETHODCALLTYPE endElement(const wchar_t* /* namespaceUri */,
                                         int /* namespaceUriLength */,
                                         const wchar_t* /* localName */, int /* localNameLength */,
                                         const wchar_t* /* qualifiedName */,
                                         int /* qualifiedNameLength */) override
    {
        return S_OK;
    }
};

// The shell calls the session reader makes, then the file read to its end.
void ReadSessionFile()
{
    CUniqueCoTaskMem<ITEMIDLIST> items;
    if (FAILED(SHGetSpecialFolderLocation(/* hwnd */ nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE,
                                          items.put())))
    {
        return;
    }
    wchar_t folder[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(items.get(), folder))
    {
        return;
    }
    const std::wstring path = std::wstring(folder) + kSessionFileTail;
    if (!PathFileExistsW(path.c_str()))
    {
        return;
    }
    const CUniqueHFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        /* lpSecurityAttributes */ nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL,
                                        /* hTemplateFile */ nullptr));
    if (!file)
    {
        return;
    }
    char buffer[kReadChunkBytes];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, /* lpOverlapped */ nullptr) &&
           read != 0)
    {
    }
}

// The program reads Opmode once, for its first report.
void QueryOpmode()
{
    CUniqueHKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kOpmodeKey, /* ulOptions */ 0, KEY_QUERY_VALUE,
                      key.put()) == ERROR_SUCCESS)
    {
        DWORD value = 0;
        DWORD size = sizeof value;
        RegQueryValueExW(key.get(), kOpmodeValue, /* lpReserved */ nullptr, /* lpType */ nullptr,
                         reinterpret_cast<BYTE*>(&value), &size);
    }
}

void Report(const wchar_t* headers, DWORD headersLength, const char* body, DWORD bodyLength,
            bool firstReport)
{
    const CComApartment apartment(COINIT_APARTMENTTHREADED);
    if (FAILED(apartment.Result()))
    {
        return;
    }
    if (firstReport)
    {
        QueryOpmode();
    }
    // Declared before the reader, so that it outlives the reader's pointer to it.
    CFloorContentHandler handler;
    CComOwner<ISAXXMLReader> reader;
    if (SUCCEEDED(CoCreateInstance(CLSID_SAXXMLReader, /* pUnkOuter */ nullptr,
                                   CLSCTX_INPROC_SERVER, IID_ISAXXMLReader, reader.put_void())))
    {
        reader->putContentHandler(&handler);
    }

    // Closed in reverse order, request first, as the program closes them.
    const CUniqueHInternet session(InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG,
                                                 /* lpszProxy */ nullptr,
                                                 /* lpszProxyBypass */ nullptr, /* dwFlags */ 0));
    const CUniqueHInternet connection(
        InternetConnectW(session.get(), ZORVIK_METRICS_HOST, INTERNET_DEFAULT_HTTP_PORT,
                         /* lpszUserName */ nullptr, /* lpszPassword */ nullptr,
                         INTERNET_SERVICE_HTTP, /* dwFlags */ 0, /* dwContext */ 0));
    const wchar_t* acceptTypes[] = {L"text/*", nullptr};
    const CUniqueHInternet request(HttpOpenRequestW(connection.get(), L"POST", kObjectName,
                                                    /* lpszVersion */ nullptr,
                                                    /* lpszReferrer */ nullptr, acceptTypes,
                                                    kRequestFlags, /* dwContext */ 0));
    HttpSendRequestW(request.get(), headers, headersLength, const_cast<char*>(body), bodyLength);
}

void CleanUp()
{
    CUniqueHKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunOnceKey, /* ulOptions */ 0, KEY_ALL_ACCESS,
                      key.put()) == ERROR_SUCCESS)
    {
        RegDeleteValueW(key.get(), kRunOnceValue);
    }
    wchar_t folder[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(/* hwnd */ nullptr, CSIDL_APPDATA, /* hToken */ nullptr,
                                   SHGFP_TYPE_CURRENT, folder)))
    {
        DeleteFileW((std::wstring(folder) + kSessionFileTail).c_str());
    }
}

template <size_t N>
constexpr DWORD TextLength(const char (&)[N])
{
    return static_cast<DWORD>(N - 1);
}

template <size_t N>
constexpr DWORD TextLength(const wchar_t (&)[N])
{
    return static_cast<DWORD>(N - 1);
}
} // namespace

int WINAPI wWinMain(HINSTANCE /* instance */, HINSTANCE /* previousInstance */,
                    PWSTR /* commandLine */, int /* showCommand */)
{
    ReadSessionFile();
    Report(kFloorDownloadedHeaders, TextLength(kFloorDownloadedHeaders), kFloorDownloadedBody,
           TextLength(kFloorDownloadedBody), true);
    Report(kFloorInstalledHeaders, TextLength(kFloorInstalledHeaders), kFloorInstalledBody,
           TextLength(kFloorInstalledBody), false);
    CleanUp();
    return 0;
}
