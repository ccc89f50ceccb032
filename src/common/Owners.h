#pragma once

#include "common/UniqueOwner.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wininet.h>

struct RegKeyTraits
{
    using Type = HKEY;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type key) noexcept { RegCloseKey(key); }
};

struct InternetHandleTraits
{
    using Type = HINTERNET;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { InternetCloseHandle(handle); }
};

// Kernel handles that are empty when null: events, threads.
struct KernelHandleTraits
{
    using Type = HANDLE;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { CloseHandle(handle); }
};

// File handles are empty when INVALID_HANDLE_VALUE, as CreateFileW returns.
struct FileHandleTraits
{
    using Type = HANDLE;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) noexcept { CloseHandle(handle); }
};

struct BstrTraits
{
    using Type = BSTR;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type text) noexcept { SysFreeString(text); }
};

template <typename T>
struct CoTaskMemTraits
{
    using Type = T*;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type memory) noexcept { CoTaskMemFree(memory); }
};

using CUniqueHKey = CUniqueOwner<RegKeyTraits>;
using CUniqueHInternet = CUniqueOwner<InternetHandleTraits>;
using CUniqueHFile = CUniqueOwner<FileHandleTraits>;
using CUniqueHandle = CUniqueOwner<KernelHandleTraits>;
using CUniqueBstr = CUniqueOwner<BstrTraits>;
template <typename T>
using CUniqueCoTaskMem = CUniqueOwner<CoTaskMemTraits<T>>;
