#include "app/Cleanup.h"

#include "common/Owners.h"
#include "session/SessionFile.h"

#include <windows.h>
#include <shlobj.h>

namespace
{
const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRunOnceValue[] = L"ZorvikSoftwareUpdate";
} // namespace

void RemoveRunOnceValue() noexcept
{
    CUniqueHKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunOnceKey, /* ulOptions */ 0, KEY_ALL_ACCESS,
                      key.put()) == ERROR_SUCCESS)
    {
        RegDeleteValueW(key.get(), kRunOnceValue);
    }
}

void DeleteSessionFile() noexcept
{
    wchar_t appData[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(/* hwnd */ nullptr, CSIDL_APPDATA, /* hToken */ nullptr,
                                   SHGFP_TYPE_CURRENT, appData)) &&
        IsFullFolderPath(appData))
    {
        // Composed without a fixed limit: a long folder path gives a path the
        // platform refuses, never one that overruns a buffer. The deadline's
        // thread calls this too, where nothing may escape.
        try
        {
            DeleteFileW(SessionFilePath(SessionFolderPath(appData)).c_str());
        }
        catch (...)
        {
        }
    }
}
