#include "session/File.h"

#include <utility>

CFile::~CFile()
{
    Close();
    m_handle = INVALID_HANDLE_VALUE;
}

FileState CFile::Open(const wchar_t* path)
{
    // Deleting is shared too: a clean-up on another thread (the run's
    // deadline) must be able to delete a file that is still being read. The
    // file then goes when its last handle closes.
    return OpenHandle(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING,
                      FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL);
}

FileState CFile::Create(const wchar_t* path)
{
    return OpenHandle(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL);
}

FileState CFile::OpenHandle(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                            DWORD flags)
{
    if (m_state != FileClosed)
    {
        Close();
    }
    m_handle = CreateFileW(path, access, share, /* lpSecurityAttributes */ nullptr, disposition,
                           flags, /* hTemplateFile */ nullptr);
    if (m_handle == INVALID_HANDLE_VALUE)
    {
        return MapLastError();
    }
    m_state = FileOk;
    return m_state;
}

FileState CFile::Close()
{
    if (m_state == FileClosed)
    {
        return m_state;
    }
    // The handle is given up whatever CloseHandle says: a handle whose close
    // failed is not one to close again, since its value may by then name
    // another object.
    const HANDLE handle = std::exchange(m_handle, INVALID_HANDLE_VALUE);
    if (handle != INVALID_HANDLE_VALUE && !CloseHandle(handle))
    {
        return MapLastError();
    }
    m_state = FileClosed;
    return m_state;
}

FileState CFile::Read(DWORD count, void* buffer, DWORD* transferred)
{
    DWORD localTransferred = 0;
    if (transferred == nullptr)
    {
        transferred = &localTransferred;
    }
    if (m_state != FileOk || count == 0)
    {
        *transferred = 0;
        return m_state;
    }
    if (!ReadFile(m_handle, buffer, count, transferred, /* lpOverlapped */ nullptr))
    {
        return MapLastError();
    }
    m_state = *transferred < count ? FileEof : FileOk;
    return m_state;
}

FileState CFile::Write(DWORD count, const void* buffer, DWORD* transferred)
{
    if ((m_state != FileOk && m_state != FileEof) || count == 0)
    {
        return m_state;
    }
    DWORD localTransferred = 0;
    if (!WriteFile(m_handle, buffer, count,
                   transferred != nullptr ? transferred : &localTransferred,
                   /* lpOverlapped */ nullptr))
    {
        return MapLastError();
    }
    // A short write is not detected; the count tells.
    m_state = FileOk;
    return m_state;
}

FileState CFile::MapLastError()
{
    m_lastError = GetLastError();
    switch (m_lastError)
    {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_INVALID_HANDLE:
    case ERROR_INVALID_ACCESS:
    case ERROR_SHARING_VIOLATION:
    case ERROR_HANDLE_DISK_FULL: m_state = FileError; break;
    default: m_state = FileOtherError; break;
    }
    return m_state;
}

HRESULT CFile::FailureResult() const noexcept
{
    if (m_lastError != ERROR_SUCCESS)
    {
        return HRESULT_FROM_WIN32(m_lastError);
    }
    return m_state == FileClosed ? HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE) : E_FAIL;
}
