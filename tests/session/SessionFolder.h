#pragma once

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

// Session files go where the program looks for them: the prefix's roaming
// application-data folder. What a test creates there it removes.
class SessionFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t appData[MAX_PATH];
        ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                         SHGFP_TYPE_CURRENT, appData));
        m_appData = appData;
        m_folder = m_appData + L"\\ZorvikUpdate";
        m_path = m_folder + L"\\ZorvikUpdate.session";
        m_createdFolder = CreateDirectoryW(m_folder.c_str(), nullptr) != FALSE;
        ASSERT_TRUE(m_createdFolder || GetLastError() == ERROR_ALREADY_EXISTS);
    }
    void TearDown() override
    {
        DeleteFileW(m_path.c_str());
        if (m_createdFolder)
        {
            RemoveDirectoryW(m_folder.c_str());
        }
    }

    std::wstring m_appData;
    std::wstring m_folder;
    std::wstring m_path;
    bool m_createdFolder = false;
};
