#pragma once

#include <windows.h>

#include <string>

// Moves a registry key out of the way for the life of the object and puts it
// back afterwards, so a test can run as if the key did not exist.
class CHiddenRegistryKey
{
public:
    CHiddenRegistryKey(HKEY root, std::wstring subKey);
    ~CHiddenRegistryKey();
    CHiddenRegistryKey(const CHiddenRegistryKey&) = delete;
    CHiddenRegistryKey& operator=(const CHiddenRegistryKey&) = delete;

    bool Hidden() const { return m_hidden; }

private:
    HKEY m_root;
    std::wstring m_subKey;
    std::wstring m_backupKey;
    bool m_hidden = false;
};

// The SAX reader's class registration, HKLM\Software\Classes\CLSID\{...}.
extern const wchar_t kSaxReaderClassKey[];
