#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Wide and narrow text are std::wstring and std::string. These helpers are the
// string layer's fallible operations; each failure raises CStringError.

// Text up to its terminating null, converted with the given code page. A null
// or empty text gives an empty string.
std::string WideToNarrow(const wchar_t* text, UINT codePage);
std::wstring NarrowToWide(const char* text, UINT codePage);

// Appends the text within its first `length` bytes, stopping at the first zero
// byte. A null text appends nothing; a negative length, or a result longer
// than 0x7FFFFFFF bytes, raises E_INVALIDARG and leaves the target unchanged.
// The text may point into the target itself.
void AppendBounded(std::string& target, const char* text, int length);

// The two texts one after the other, as a new string: how the string layer
// copies wide text, so that no memory for it raises CStringError
// (E_OUTOFMEMORY) like any other of its failures.
std::wstring JoinWide(std::wstring_view first, std::wstring_view second = {});
