#pragma once

#include <cstddef>

// Room for an escaped URL, terminator included: at most 2082 characters.
constexpr size_t kEscapedUrlCapacity = 2083;

// Percent-escapes a terminated URL before it is parsed. The text is taken as
// UTF-8; before the first "?" or "#", control bytes, bytes from 0x7F on and
// the characters space " $ & + , ; < = > @ [ \ ] ^ ` { | } become "%" and two
// lower-case hex digits, while "%" itself is kept so that existing escapes
// survive. From the first "?" or "#" on, everything is kept as it is.
// `out` holds kEscapedUrlCapacity units. Returns false, with `out`
// untouched, when the escaped text does not fit or a conversion fails. A
// null `in` or `out` raises CStringError(E_FAIL).
bool EscapeUrlText(const wchar_t* in, wchar_t* out);

// The same escaping on terminated UTF-8 bytes, into `out` of `outCapacity`
// bytes, terminator included. Returns false when the result does not fit;
// `out` then holds a part of it. A null `in` or `out` raises
// CStringError(E_FAIL).
bool EscapeUrlBytes(const char* in, char* out, size_t outCapacity);
