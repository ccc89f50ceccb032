#include "app/Cleanup.h"
#include "common/Owners.h"
#include "session/SessionFile.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

namespace
{
const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

std::wstring AppData()
{
    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path));
    return path;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteFile(const std::wstring& path)
{
    CUniqueHFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
}

class CleanupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_CURRENT_USER, kRunOnceKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, m_runOnce.put(), nullptr));
        RegDeleteValueW(m_runOnce.get(), L"ZorvikSoftwareUpdate");
        RegDeleteValueW(m_runOnce.get(), L"Sibling");
        m_folder = SessionFolderPath(AppData());
        m_file = SessionFilePath(m_folder);
        CreateDirectoryW(m_folder.c_str(), nullptr);
    }
    void TearDown() override
    {
        RegDeleteValueW(m_runOnce.get(), L"ZorvikSoftwareUpdate");
        RegDeleteValueW(m_runOnce.get(), L"Sibling");
        DeleteFileW(m_file.c_str());
        RemoveDirectoryW(m_folder.c_str());
    }

    void SetRunOnce(const wchar_t* name, const wchar_t* data)
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(m_runOnce.get(), name, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(data),
                                 static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t))));
    }
    bool HasRunOnce(const wchar_t* name)
    {
        return RegQueryValueExW(m_runOnce.get(), name, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS;
    }

    CUniqueHKey m_runOnce;
    std::wstring m_folder;
    std::wstring m_file;
};

TEST_F(CleanupTest, RemovesOnlyItsOwnRunOnceValue)
{
    SetRunOnce(L"ZorvikSoftwareUpdate", L"C:\\zorvik\\ZorvikUpdateReport.exe");
    SetRunOnce(L"Sibling", L"C:\\other.exe");
    RemoveRunOnceValue();
    EXPECT_FALSE(HasRunOnce(L"ZorvikSoftwareUpdate"));
    EXPECT_TRUE(HasRunOnce(L"Sibling"));
    RemoveRunOnceValue(); // already absent: nothing happens
    EXPECT_TRUE(HasRunOnce(L"Sibling"));
}

TEST_F(CleanupTest, DeletesTheSessionFileAndKeepsItsFolder)
{
    WriteFile(m_file);
    ASSERT_TRUE(Exists(m_file));
    DeleteSessionFile();
    EXPECT_FALSE(Exists(m_file));
    EXPECT_TRUE(Exists(m_folder));
    DeleteSessionFile(); // no file: nothing happens
    EXPECT_TRUE(Exists(m_folder));
}

TEST_F(CleanupTest, LockedSessionFileStays)
{
    WriteFile(m_file);
    CUniqueHFile held(CreateFileW(m_file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    DeleteSessionFile();
    EXPECT_TRUE(Exists(m_file));
}

// An application-data folder so long that the session file path passes
// MAX_PATH: the clean-up must neither overrun a buffer nor touch another file.
TEST_F(CleanupTest, LongApplicationDataPathIsHandledWithoutOverflow)
{
    CUniqueHKey folders;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_ALL_ACCESS, folders.put()));
    wchar_t saved[1024] = {};
    DWORD savedSize = sizeof(saved);
    DWORD savedType = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(folders.get(), L"AppData", nullptr, &savedType,
                                              reinterpret_cast<BYTE*>(saved), &savedSize));

    const std::wstring longFolder =
        L"C:\\" + std::wstring(200, L'a') + L"\\" + std::wstring(40, L'b');
    ASSERT_LT(longFolder.size(), static_cast<size_t>(MAX_PATH));
    ASSERT_GT(SessionFilePath(SessionFolderPath(longFolder)).size(), static_cast<size_t>(MAX_PATH));
    SHCreateDirectoryExW(nullptr, longFolder.c_str(), nullptr);
    ASSERT_TRUE(Exists(longFolder));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(folders.get(), L"AppData", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(longFolder.c_str()),
                             static_cast<DWORD>((longFolder.size() + 1) * sizeof(wchar_t))));
    const std::wstring seen = AppData();
    DeleteSessionFile();
    WriteFile(m_file); // the ordinary session file is not touched by that run
    DeleteSessionFile();
    EXPECT_TRUE(Exists(m_file));

    RegSetValueExW(folders.get(), L"AppData", 0, savedType, reinterpret_cast<const BYTE*>(saved),
                   savedSize);
    RemoveDirectoryW(longFolder.c_str());
    RemoveDirectoryW(longFolder.substr(0, longFolder.rfind(L'\\')).c_str());
    EXPECT_EQ(longFolder, seen);
}
} // namespace
