#include "RegistryScope.h"

#include "common/Owners.h"

const wchar_t kSaxReaderClassKey[] =
    L"Software\\Classes\\CLSID\\{079AA557-4A18-424A-8EEE-E39F0A8D41B9}";

CHiddenRegistryKey::CHiddenRegistryKey(HKEY root, std::wstring subKey)
    : m_root(root),
      m_subKey(std::move(subKey)),
      m_backupKey(L"Software\\ZorvikTestBackup")
{
    CUniqueHKey source;
    CUniqueHKey backup;
    if (RegOpenKeyExW(m_root, m_subKey.c_str(), 0, KEY_READ, source.put()) != ERROR_SUCCESS)
    {
        return;
    }
    RegDeleteTreeW(m_root, m_backupKey.c_str());
    if (RegCreateKeyExW(m_root, m_backupKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        backup.put(), nullptr) != ERROR_SUCCESS ||
        RegCopyTreeW(source.get(), nullptr, backup.get()) != ERROR_SUCCESS)
    {
        return;
    }
    source.reset();
    m_hidden = RegDeleteTreeW(m_root, m_subKey.c_str()) == ERROR_SUCCESS;
}

CHiddenRegistryKey::~CHiddenRegistryKey()
{
    if (!m_hidden)
    {
        return;
    }
    CUniqueHKey backup;
    CUniqueHKey restored;
    if (RegOpenKeyExW(m_root, m_backupKey.c_str(), 0, KEY_READ, backup.put()) == ERROR_SUCCESS &&
        RegCreateKeyExW(m_root, m_subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        restored.put(), nullptr) == ERROR_SUCCESS &&
        RegCopyTreeW(backup.get(), nullptr, restored.get()) == ERROR_SUCCESS)
    {
        backup.reset();
        RegDeleteTreeW(m_root, m_backupKey.c_str());
    }
}
