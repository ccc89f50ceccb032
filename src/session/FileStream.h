#pragma once

#include "session/File.h"
#include "soap/StreamImpl.h"

// A CFile read, written and rewound through IStream. The owner opens and
// closes the file through File(); destroying the stream closes it as well.
// Every operation makes at most one platform call and buffers nothing.
class CFileStream : public CStreamImpl
{
public:
    CFileStream() noexcept = default;
    ~CFileStream() override;

    CFile& File() noexcept { return m_file; }
    const CFile& File() const noexcept { return m_file; }

    // Once a read has come up short, every later read gives S_FALSE and no
    // bytes, whatever the file holds by then.
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override;
    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override;
    // Rewinds to the start, and nothing else: a move of 0 from
    // STREAM_SEEK_SET with no new position asked for. A rewind keeps the end
    // of the file reached.
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                   ULARGE_INTEGER* newPosition) override;

private:
    CFile m_file;
};
