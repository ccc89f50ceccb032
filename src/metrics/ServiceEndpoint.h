#pragma once

#include <string>

// The metrics service URL that the registry value Opmode (HKLM
// "SOFTWARE\Tarnwell\kaldris") selects: 0 the internal host, 1 the alternate
// host, anything else or no usable value the default host. Reads the registry
// on every call.
std::wstring ResolveMetricsServiceUrl();

// The same URL, resolved by the first call in the process and kept: changing
// Opmode during a run has no effect.
const std::wstring& MetricsServiceUrl();
