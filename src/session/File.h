#pragma once

#include <windows.h>

// The outcome of the last operation on a CFile.
enum FileState
{
    FileOk = 0,         // open, and the last open, read or write completed in full
    FileError = 1,      // the last operation failed with one of the errors MapLastError lists
    FileEof = 2,        // the last read came up short: the end of the file
    FileClosed = 3,     // no file is open
    FileOtherError = 4, // the last operation failed with any other error
};

// One Win32 file handle, with the outcome of every operation kept as a state
// and the last error, so that users test one value instead of each platform
// result. A failed operation keeps its error until the next failure.
class CFile
{
public:
    CFile() noexcept = default;
    // Closes the file, and forgets the handle even when it would not close.
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens an existing file for reading from start to end, sharing it with
    // readers and with deletion, not with writers. An open file is closed
    // first.
    FileState Open(const wchar_t* path);
    // Creates or truncates a file for reading and writing, shared with
    // readers. An open file is closed first.
    FileState Create(const wchar_t* path);
    // A failed close reports the error; the handle is given up all the same,
    // never closed a second time.
    FileState Close();
    // Reads nothing, without a platform call, unless the state is FileOk.
    // The count may be null.
    FileState Read(DWORD count, void* buffer, DWORD* transferred);
    // Writes only in FileOk or FileEof, and only a non-zero count; otherwise
    // the count is left untouched. The count may be null.
    FileState Write(DWORD count, const void* buffer, DWORD* transferred);
    // Records the thread's last error and classifies it.
    FileState MapLastError();

    FileState State() const noexcept { return m_state; }
    DWORD LastError() const noexcept { return m_lastError; }
    HANDLE Handle() const noexcept { return m_handle; }
    // The recorded failure as a result code, never S_OK: a file that has
    // recorded no error has never been opened, which is an invalid handle.
    HRESULT FailureResult() const noexcept;

private:
    FileState OpenHandle(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                         DWORD flags);

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    FileState m_state = FileClosed;
    DWORD m_lastError = ERROR_SUCCESS;
};
