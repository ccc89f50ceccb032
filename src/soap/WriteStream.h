#pragma once

#include <windows.h>

#include <cstdint>

// The minimal sink a request body is written through. Not a COM interface:
// no count and no query; its implementations live with their owner, which is
// why the destructor is not part of the interface.
class IWriteStream
{
public:
    virtual HRESULT WriteBytes(const char* text, int32_t length, uint32_t* written) = 0;
    virtual HRESULT Flush() = 0;

protected:
    IWriteStream() = default;
    IWriteStream(const IWriteStream&) = default;
    IWriteStream& operator=(const IWriteStream&) = default;
    ~IWriteStream() = default;
};
