#pragma once

#include <windows.h>

// A result built from the thread's last error. A last error of 0 would turn
// into S_OK through HRESULT_FROM_WIN32 and report a failure as success, so it
// becomes E_FAIL instead.
inline HRESULT HResultFromLastError()
{
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}
