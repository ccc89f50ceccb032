#include "soap/InetStream.h"

#include <utility>

HINTERNET CInetStream::Detach() noexcept
{
    return std::exchange(m_request, nullptr);
}

HRESULT STDMETHODCALLTYPE CInetStream::Read(void* buffer, ULONG count, ULONG* read)
{
    // IStream callers may pass no count; the platform needs one.
    DWORD localRead = 0;
    if (!InternetReadFile(m_request, buffer, count, read != nullptr ? read : &localRead))
    {
        return E_FAIL;
    }
    return S_OK;
}
