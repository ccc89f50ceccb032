#pragma once

#include "soap/StreamImpl.h"

#include <windows.h>
#include <wininet.h>

// The response body of an HTTP request as a stream. The request handle is
// the owner's: the stream never closes it, and the owner detaches it when it
// closes the request. Detached (null handle), every read fails.
class CInetStream : public CStreamImpl
{
public:
    CInetStream() noexcept = default;

    void Attach(HINTERNET request) noexcept { m_request = request; }
    HINTERNET Detach() noexcept;
    HINTERNET Request() const noexcept { return m_request; }

    // One platform read per call: it may deliver fewer bytes than asked
    // before the end, and S_OK with 0 bytes at and after the end.
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override;

private:
    HINTERNET m_request = nullptr;
};
