#include "soap/StringWriteStream.h"

#include "common/Strings.h"

HRESULT CCStringWriteStream::WriteBytes(const char* text, int32_t length, uint32_t* /* written */)
{
    AppendBounded(m_text, text, length);
    return S_OK;
}

HRESULT CCStringWriteStream::Flush()
{
    return S_OK;
}
