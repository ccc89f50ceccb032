#include "session/FileStream.h"

CFileStream::~CFileStream()
{
    m_file.Close();
}

HRESULT STDMETHODCALLTYPE CFileStream::Read(void* buffer, ULONG count, ULONG* read)
{
    if (buffer == nullptr)
    {
        return STG_E_INVALIDPOINTER;
    }
    DWORD transferred = 0;
    const FileState state = m_file.Read(count, buffer, &transferred);
    if (read != nullptr)
    {
        *read = transferred;
    }
    switch (state)
    {
    case FileOk: return S_OK;
    case FileEof: return transferred == 0 ? S_FALSE : S_OK;
    default: return m_file.FailureResult();
    }
}

HRESULT STDMETHODCALLTYPE CFileStream::Write(const void* buffer, ULONG count, ULONG* written)
{
    switch (m_file.Write(count, buffer, written))
    {
    case FileOk: return S_OK;
    // Only a write of nothing stays at the end of the file. It reports the
    // last failure the file recorded, so S_OK only when nothing has failed.
    case FileEof: return HRESULT_FROM_WIN32(m_file.LastError());
    default: return m_file.FailureResult();
    }
}

HRESULT STDMETHODCALLTYPE CFileStream::Seek(LARGE_INTEGER move, DWORD origin,
                                            ULARGE_INTEGER* newPosition)
{
    if (move.QuadPart != 0 || origin != STREAM_SEEK_SET || newPosition != nullptr)
    {
        return E_INVALIDARG;
    }
    if (SetFilePointer(m_file.Handle(), 0, /* lpDistanceToMoveHigh */ nullptr, FILE_BEGIN) ==
        INVALID_SET_FILE_POINTER)
    {
        m_file.MapLastError();
        return m_file.FailureResult();
    }
    return S_OK;
}
