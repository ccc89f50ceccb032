#pragma once

#include <string>

// Printable, shortened forms of generated inputs for failure messages: enough
// to turn a failing case into a fixed test. Runs of one value show as the
// value and its count, so long texts built of repeats stay exact.

// Bytes in hex, for example "6 bytes: 01 00 00 00 {ff x2}".
std::string DescribeBytes(const std::string& bytes);

// UTF-16 text with printable ASCII as it is and every other unit as \uXXXX.
std::string DescribeText(const std::wstring& text);

// Narrow text with printable ASCII as it is and every other byte as \xXX.
std::string DescribeNarrowText(const std::string& text);
