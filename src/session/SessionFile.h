#pragma once

#include "common/Owners.h"

#include <windows.h>
#include <objidl.h>

#include <string>

// The update product leaves a session file in the user's roaming
// application-data folder: two 32-bit header words, then six counted UTF-16
// strings, the sixth of which names the update session.

// The largest record count accepted, terminator included: it caps any one
// allocation whatever the file claims.
constexpr ULONG kMaxStringRecordBytes = 0x100000;

// Reads the session identifier: the sixth record's text up to its first NUL.
// The identifier is left as it was on failure.
HRESULT ReadSessionId(std::wstring& sessionId);

// Reads one counted string at the stream's position. On success the holder
// owns the text (null for an absent string) and the stream stands behind the
// record. On failure the holder is null and a stream that can tell its
// position is put back at the record's start; a null stream gives
// E_INVALIDARG and leaves the holder alone.
HRESULT ReadCountedString(CUniqueBstr& holder, IStream* stream);

// The user's roaming application-data folder, created when missing. The
// folder is left as it was on failure. A folder that is not a full path
// counts as a failure (E_FAIL).
HRESULT GetAppDataFolder(std::wstring& folder);

// Whether a folder path names one place whatever the current drive and
// folder: a drive letter with its root ("C:\...") or a UNC path ("\\...").
// An empty or relative path would put the session file under the current
// folder or the current drive's root, where it is not ours to read or delete.
bool IsFullFolderPath(const wchar_t* path);

// The session folder below the application-data folder, and the session file
// in it. The clean-up deletes the file under the same composition.
std::wstring SessionFolderPath(const std::wstring& appDataFolder);
std::wstring SessionFilePath(const std::wstring& folderPath);
