#pragma once

#include "soap/WriteStream.h"

#include <string>

// Collects what is written into a narrow string, which its owner reads and
// empties directly.
class CCStringWriteStream final : public IWriteStream
{
public:
    // Appends the text up to its first zero byte, at most `length` bytes.
    // The written count is not reported. A negative length, or a total past
    // 0x7FFFFFFF bytes, raises CStringError(E_INVALIDARG) with the text
    // unchanged; the text may point into the stream's own string.
    HRESULT WriteBytes(const char* text, int32_t length, uint32_t* written) override;

    // Nothing is buffered.
    HRESULT Flush() override;

    const std::string& Text() const noexcept { return m_text; }
    void Clear() noexcept { m_text.clear(); }

private:
    std::string m_text;
};
