#pragma once

#include <windows.h>

#include <exception>

// The failure the string layer raises. It carries the result code that the
// one place catching it (the per-report driver, or URL escaping) turns into
// its own result: E_OUTOFMEMORY, E_INVALIDARG, E_FAIL, or the Win32-derived
// code of a failed code-page conversion.
class CStringError final : public std::exception
{
public:
    explicit CStringError(HRESULT result) noexcept : m_result(result) {}

    HRESULT Result() const noexcept { return m_result; }
    const char* what() const noexcept override { return "string operation failed"; }

private:
    HRESULT m_result;
};

[[noreturn]] inline void ThrowStringError(HRESULT result)
{
    throw CStringError(result);
}
