#include "session/SessionFile.h"

#include "session/FileStream.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <string_view>
#include <utility>

namespace
{
constexpr int kRecordCount = 6;

// Reads exactly `count` bytes; a short read is a malformed record.
HRESULT ReadExactly(IStream& stream, void* buffer, ULONG count)
{
    ULONG read = 0;
    const HRESULT result = stream.Read(buffer, count, &read);
    if (FAILED(result))
    {
        return result;
    }
    return read == count ? result : E_FAIL;
}

HRESULT ReadRecord(CUniqueBstr& holder, IStream& stream)
{
    ULONG count = 0;
    HRESULT result = ReadExactly(stream, &count, sizeof count);
    if (FAILED(result) || count == 0)
    {
        return result;
    }
    if (count == 1)
    {
        return E_FAIL;
    }
    if (count > kMaxStringRecordBytes)
    {
        return E_ACCESSDENIED;
    }
    const UINT textBytes = count - static_cast<ULONG>(sizeof(WCHAR));
    holder.reset(SysAllocStringByteLen(/* psz */ nullptr, textBytes));
    if (!holder)
    {
        return E_OUTOFMEMORY;
    }
    result = ReadExactly(stream, holder.get(), textBytes);
    if (FAILED(result))
    {
        return result;
    }
    WCHAR terminator = 0;
    result = ReadExactly(stream, &terminator, sizeof terminator);
    if (FAILED(result))
    {
        return result;
    }
    return terminator == L'\0' ? result : E_FAIL;
}
} // namespace

HRESULT ReadCountedString(CUniqueBstr& holder, IStream* stream)
{
    if (stream == nullptr)
    {
        return E_INVALIDARG;
    }
    holder.reset();
    LARGE_INTEGER start;
    start.QuadPart = 0;
    ULARGE_INTEGER position;
    position.QuadPart = 0;
    const HRESULT positionResult = stream->Seek(start, STREAM_SEEK_CUR, &position);

    const HRESULT result = ReadRecord(holder, *stream);
    if (FAILED(result))
    {
        holder.reset();
        if (SUCCEEDED(positionResult))
        {
            start.QuadPart = static_cast<LONGLONG>(position.QuadPart);
            stream->Seek(start, STREAM_SEEK_SET, /* plibNewPosition */ nullptr);
        }
    }
    return result;
}

HRESULT ReadSessionId(std::wstring& sessionId)
{
    // Without the folder there is no session file to read: a path formed
    // from nothing would name one at the root of the current drive.
    std::wstring appDataFolder;
    const HRESULT folderResult = GetAppDataFolder(appDataFolder);
    if (FAILED(folderResult))
    {
        return folderResult;
    }
    const std::wstring path = SessionFilePath(SessionFolderPath(appDataFolder));
    if (!PathFileExistsW(path.c_str()))
    {
        return E_FAIL;
    }

    CFileStream stream;
    CFile& file = stream.File();
    if (file.Open(path.c_str()) != FileOk)
    {
        return file.FailureResult();
    }
    // The header words carry nothing the report needs. A file too short for
    // them fails at the first record.
    DWORD header[2] = {};
    HRESULT result = stream.Read(header, sizeof header, /* pcbRead */ nullptr);
    if (FAILED(result))
    {
        return result;
    }
    CUniqueBstr record;
    for (int index = 0; index < kRecordCount; ++index)
    {
        result = ReadCountedString(record, &stream);
        if (FAILED(result))
        {
            return result;
        }
    }
    // Whole UTF-16 units only: an odd last byte is no character.
    std::wstring_view text(record.get(), SysStringLen(record.get()));
    sessionId.assign(text.substr(0, text.find(L'\0')));
    return result;
}

HRESULT GetAppDataFolder(std::wstring& folder)
{
    CUniqueCoTaskMem<ITEMIDLIST> items;
    const HRESULT result = SHGetSpecialFolderLocation(
        /* hwnd */ nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, items.put());
    if (FAILED(result))
    {
        return result;
    }
    std::wstring path(MAX_PATH, L'\0');
    if (!SHGetPathFromIDListW(items.get(), &path[0]))
    {
        return E_FAIL;
    }
    path.resize(path.find(L'\0'));
    if (!IsFullFolderPath(path.c_str()))
    {
        return E_FAIL;
    }
    folder = std::move(path);
    return S_OK;
}

bool IsFullFolderPath(const wchar_t* path)
{
    const auto isSeparator = [](wchar_t ch) { return ch == L'\\' || ch == L'/'; };
    const auto isDriveLetter = [](wchar_t ch) {
        return (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z');
    };
    if (path == nullptr || path[0] == L'\0' || path[1] == L'\0')
    {
        return false;
    }
    if (isSeparator(path[0]))
    {
        return isSeparator(path[1]) && path[2] != L'\0';
    }
    return isDriveLetter(path[0]) && path[1] == L':' && isSeparator(path[2]);
}

std::wstring SessionFolderPath(const std::wstring& appDataFolder)
{
    return appDataFolder + L"\\ZorvikUpdate";
}

std::wstring SessionFilePath(const std::wstring& folderPath)
{
    return folderPath + L"\\ZorvikUpdate.session";
}
