#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

// Writes a whole file, replacing what it held. False when it cannot.
inline bool StoreFile(const std::wstring& path, const std::string& content)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        return false;
    }
    DWORD written = 0;
    const BOOL stored =
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return stored && written == content.size();
}

// True when nobody holds the file open: only then does an unshared open succeed.
inline bool IsFileClosedEverywhere(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        return false;
    }
    CloseHandle(file);
    return true;
}

// A temporary file holding "0123456789", removed afterwards.
class TempFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t folder[MAX_PATH];
        wchar_t path[MAX_PATH];
        ASSERT_NE(0u, GetTempPathW(MAX_PATH, folder));
        ASSERT_NE(0u, GetTempFileNameW(folder, L"zfl", 0, path));
        m_folder = folder;
        m_path = path;
        ASSERT_TRUE(StoreFile(m_path, "0123456789"));
    }
    void TearDown() override { DeleteFileW(m_path.c_str()); }

    std::wstring m_folder;
    std::wstring m_path;
};
