#pragma once

#include <string>

// The body of a plain GET to a loopback URL, or "" when it fails. For tests that
// ask a loopback server what it received.
std::string FetchUrl(const std::wstring& url);

// The port a loopback server of tests/support/loopback_servers.py listens on,
// e.g. "HTTP" or "CLOSED".
std::wstring LoopbackPort(const char* name);
