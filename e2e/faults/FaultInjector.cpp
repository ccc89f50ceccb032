// A fault injector, linked into a test build of the program only. It points
// the program's import table at counting wrappers of the functions below and
// replaces operator new. It counts the main thread's calls and allocations
// apart from those of any other thread (the deadline's waiting thread), and
// ZORVIK_FAULT says what to do:
//   count                 count the calls and allocations of a run
//   alloc K               the main thread's K-th allocation fails (operator
//                         new, the OLE strings)
//   call NAME K           the main thread's K-th call of the imported
//                         function NAME fails
//   watcher alloc K, watcher call NAME K   the same on the waiting thread
// When the fault is the main thread's wait for the waiting thread, that
// thread is held after its own wait for as long as the process lasts.
// With ZORVIK_FAULT_DEADLINE set to a number of milliseconds, the process
// looks old enough for the run's deadline to come that long after its start
// (or young enough, created later than now, for more than the deadline).
// ZORVIK_FAULT_HOLD holds one thread in the clean-up, as it comes to delete
// the session file, until the other comes to wait for it ("watcher-until-main",
// "main-until-watcher") or for good ("watcher-for-good", "main-for-good");
// a held waiting thread first makes the file ZORVIK_FAULT_RELEASE names.
// It puts the RunOnce value in place before the run, and when the process
// ends (on its own, or ending itself as the deadline does) writes to the file
// ZORVIK_FAULT_REPORT names the calls, the imports it left alone, whether the
// fault was met, what the program left open, whether its threads are still
// running, whether the RunOnce value is gone and how old the process was.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wininet.h>
#include <io.h>
#include <process.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <new>
#include <type_traits>
#include <utility>

namespace
{
// How a call fails and counts. A status or HRESULT return is the error itself;
// a close or free that fails still happens first, as it would; what a call
// acquires or releases is balanced at the end; some calls only count.
constexpr unsigned kStatus = 1, kHResult = 2, kAfterCall = 4, kAllocation = 8, kAcquire = 16,
                   kRelease = 32, kReportFirst = 64, kNeverFails = 128;
// What the program acquires and must release again.
constexpr int kNone = 0, kKernelHandle = 1, kRegistryKey = 2, kInternetHandle = 3, kApartment = 4,
              kItemList = 5, kOleString = 6, kKinds = 7;
const char* const kKindNames[kKinds] = {
    "", "kernel-handle", "registry-key", "internet-handle", "apartment", "item-list", "ole-string"};

// Looked up rather than imported, so that the injector's own calls go
// around the table it patches.
template <typename F>
F Lookup(const wchar_t* dll, const char* name)
{
    return reinterpret_cast<F>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(dll), name)));
}

struct Row
{
    const char* name;
    std::uintptr_t hook;
    std::intptr_t failValue;
    long error;
    unsigned flags;
    int kind;
    std::uintptr_t original;
    volatile LONG calls;        // on the main thread (allocations: on any)
    volatile LONG watcherCalls; // on any other: the deadline's waiting thread
};
Row& RowAt(int index);

// What one side of the run did: the main thread, or the waiting thread.
struct Tally
{
    volatile LONG allocations;
    short sequence[16384]; // count mode: calls (row index) and allocations (-1) in order
    volatile LONG length;
};

bool g_counting = false;
bool g_failAllocation = false;
bool g_faultOnWatcher = false; // the fault is one of the waiting thread's
DWORD g_mainThread = 0;
// How much older the process looks in deadline mode; younger when negative,
// as after a clock set back.
LONGLONG g_extraAgeMs = 0;
const Row* g_target = nullptr;
LONG g_failAt = 0;
Tally g_main = {}, g_watcher = {};
volatile LONG g_fired = 0, g_refusedCloses = 0, g_live[kKinds] = {};
volatile LONG g_ending = 0; // the report is written: nothing counts or fails any more
volatile LONG g_inCoverageDump = 0;
HANDLE g_handles[64] = {}; // the kernel handles the program opened; the runtime has its own
DWORD g_threads[8] = {};   // the threads the program started
// The main thread's wait for the waiting thread, at the run's end, is the
// fault: that thread is then held, after its own wait, for as long as the
// process lasts, so that a main thread which goes on past the failed wait
// finds it still running.
bool g_holdAfterWait = false;
// Hand-over modes (ZORVIK_FAULT_HOLD): one thread is held in the clean-up,
// as it comes to delete the session file, until the other thread comes to
// wait for it, or for good. When it is the main thread, the waiting thread's
// first wait is held until the main thread has claimed the clean-up, so that
// the cut-off finds it under way.
enum class Hold
{
    None,
    WatcherUntilMain,
    WatcherForGood,
    MainUntilWatcher,
    MainForGood
};
Hold g_hold = Hold::None;
// Made when the waiting thread is held, so that a held service answers the
// report under way (ZORVIK_FAULT_RELEASE).
wchar_t g_releaseFile[MAX_PATH] = {};
HANDLE g_otherArrived = nullptr, g_mainCleaning = nullptr;
volatile LONG g_held = 0, g_handedOver = 0;
const Row *g_createThread = nullptr, *g_wait = nullptr, *g_folderPath = nullptr,
          *g_deleteValue = nullptr;
void* (*g_malloc)(std::size_t) = nullptr;
// Looked up before the table is patched: the lookup's own calls are hooked after.
decltype(&GetThreadId) g_threadId = nullptr;
decltype(&OpenThread) g_openThread = nullptr;
LONG(WINAPI* g_getValue)(HKEY, LPCWSTR, LPCWSTR, DWORD, LPDWORD, PVOID, LPDWORD) = nullptr;
const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRunOnceValue[] = L"ZorvikSoftwareUpdate";

bool OnWatcher()
{
    return g_mainThread != 0 && GetCurrentThreadId() != g_mainThread;
}

// Counts a call of the row's function, or an allocation (no row), on the
// side of the run it is made on; true when it is the one to fail.
bool Counts(short entry, Row* row)
{
    if (g_ending != 0 || g_inCoverageDump != 0)
    {
        return false;
    }
    const bool watcher = OnWatcher();
    Tally& tally = watcher ? g_watcher : g_main;
    const LONG at = InterlockedIncrement(&tally.length) - 1;
    if (g_counting && at < static_cast<LONG>(std::size(tally.sequence)))
    {
        tally.sequence[at] = entry;
    }
    volatile LONG& counter = row == nullptr ? tally.allocations
                             : watcher      ? row->watcherCalls
                                            : row->calls;
    const bool target =
        (row == nullptr ? g_failAllocation : g_target == row) && watcher == g_faultOnWatcher;
    return InterlockedIncrement(&counter) == g_failAt && target &&
           InterlockedExchange(&g_fired, 1) == 0;
}

bool NextAllocationFails()
{
    return Counts(-1, nullptr);
}

// Numbers and pointers as a number; anything else (a GUID by reference) as 1.
template <typename T>
std::intptr_t ToInt(const T& value)
{
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<std::intptr_t>(value);
    else if constexpr (std::is_integral_v<T>)
        return static_cast<std::intptr_t>(value);
    return 1;
}

template <typename R>
R FromInt(std::intptr_t value)
{
    if constexpr (std::is_pointer_v<R>)
        return reinterpret_cast<R>(value);
    else
        return static_cast<R>(value);
}

void Track(const Row& row, bool succeeded, std::intptr_t result, std::intptr_t first)
{
    const bool acquire = (row.flags & kAcquire) != 0;
    if (row.kind == kKernelHandle && (succeeded || !acquire))
    {
        const HANDLE from = reinterpret_cast<HANDLE>(acquire ? 0 : first);
        const HANDLE to = reinterpret_cast<HANDLE>(acquire ? result : 0);
        for (HANDLE& handle : g_handles)
        {
            if (handle == from && from != to)
            {
                handle = to;
                InterlockedExchangeAdd(&g_live[kKernelHandle], acquire ? 1 : -1);
                return;
            }
        }
    }
    else if (row.kind != kKernelHandle && ((acquire && succeeded) || (!acquire && first != 0)))
    {
        InterlockedExchangeAdd(&g_live[row.kind], acquire                       ? 1
                                                  : (row.flags & kRelease) != 0 ? -1
                                                                                : 0);
    }
}

void WriteReport(bool ended);
template <typename F>
F Original(const char* name);

void HoldHere(bool forGood)
{
    g_held = 1;
    if (forGood)
    {
        Sleep(INFINITE);
    }
    Original<decltype(&WaitForSingleObject)>("WaitForSingleObject")(g_otherArrived, INFINITE);
}

void Signal(HANDLE event)
{
    Original<decltype(&SetEvent)>("SetEvent")(event);
}

void BeforeCall(const Row& row)
{
    const bool watcher = OnWatcher();
    if (g_hold == Hold::WatcherUntilMain || g_hold == Hold::WatcherForGood)
    {
        if (&row == g_folderPath && watcher)
        {
            if (g_releaseFile[0] != L'\0')
            {
                Original<decltype(&CloseHandle)>("CloseHandle")(Original<decltype(&CreateFileW)>(
                    "CreateFileW")(g_releaseFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
            }
            HoldHere(g_hold == Hold::WatcherForGood);
        }
        else if (&row == g_wait && !watcher)
        {
            g_handedOver = g_held;
            Signal(g_otherArrived);
        }
    }
    else if (g_hold == Hold::MainUntilWatcher || g_hold == Hold::MainForGood)
    {
        if (&row == g_wait && watcher && row.watcherCalls == 1)
        {
            Original<decltype(&WaitForSingleObject)>("WaitForSingleObject")(g_mainCleaning,
                                                                            INFINITE);
        }
        else if (&row == g_wait && watcher && row.watcherCalls == 2)
        {
            g_handedOver = g_held;
            Signal(g_otherArrived);
        }
        else if (&row == g_deleteValue && !watcher)
        {
            Signal(g_mainCleaning);
        }
        else if (&row == g_folderPath && !watcher)
        {
            HoldHere(g_hold == Hold::MainForGood);
        }
    }
}

void AfterCall(const Row& row, std::intptr_t result)
{
    if (&row == g_createThread && result != 0)
    {
        static volatile LONG started = 0;
        const LONG at = InterlockedIncrement(&started) - 1;
        if (at < static_cast<LONG>(std::size(g_threads)))
        {
            g_threads[at] = g_threadId(reinterpret_cast<HANDLE>(result));
        }
    }
    if (&row == g_wait && g_holdAfterWait && OnWatcher())
    {
        Sleep(INFINITE);
    }
}

template <typename R, typename Real, typename... A>
R Intercept(Row& row, Real real, A... arguments)
{
    const bool fail = (row.flags & kAllocation) != 0
                          ? (InterlockedIncrement(&row.calls), NextAllocationFails())
                          : Counts(static_cast<short>(&row - &RowAt(0)), &row);
    BeforeCall(row);
    if ((row.flags & kReportFirst) != 0)
    {
        WriteReport(std::strcmp(row.name, "exit") == 0);
    }
    const std::intptr_t firsts[] = {1, ToInt(arguments)...};
    const std::intptr_t first = firsts[sizeof...(A) == 0 ? 0 : 1];
    if constexpr (std::is_void_v<R>)
    {
        real();
        Track(row, true, 0, first);
    }
    else
    {
        if (fail && (row.flags & kAfterCall) == 0)
        {
            SetLastError(static_cast<DWORD>(row.error));
            return FromInt<R>(row.failValue);
        }
        const R result = real();
        const std::intptr_t value = ToInt(result);
        AfterCall(row, value);
        const bool succeeded = (row.flags & kStatus) != 0    ? value == ERROR_SUCCESS
                               : (row.flags & kHResult) != 0 ? static_cast<HRESULT>(value) >= 0
                                                             : result != FromInt<R>(row.failValue);
        Track(row, succeeded, value, first);
        if ((row.flags & kRelease) != 0 && !succeeded)
        {
            InterlockedIncrement(&g_refusedCloses); // closed twice, or never open
        }
        if (fail)
        {
            SetLastError(static_cast<DWORD>(row.error));
            return FromInt<R>(row.failValue);
        }
        return result;
    }
}

template <typename F, int Index>
struct Hook;
// noexcept is part of a function's type where the headers declare it.
template <typename R, typename... A, bool NoExcept, int Index>
struct Hook<R(WINAPI*)(A...) noexcept(NoExcept), Index>
{
    static R WINAPI Call(A... arguments)
    {
        Row& row = RowAt(Index);
        auto real = [&] { return reinterpret_cast<R(WINAPI*)(A...)>(row.original)(arguments...); };
        return Intercept<R>(row, real, arguments...);
    }
};
// In deadline mode the process says it was created earlier than it was.
template <typename Generic>
BOOL WINAPI AgedProcessTimes(HANDLE process, FILETIME* created, FILETIME* exited, FILETIME* kernel,
                             FILETIME* user)
{
    const BOOL result = Generic::Call(process, created, exited, kernel, user);
    if (result && g_extraAgeMs != 0)
    {
        ULARGE_INTEGER time;
        time.LowPart = created->dwLowDateTime;
        time.HighPart = created->dwHighDateTime;
        time.QuadPart -= static_cast<ULONGLONG>(g_extraAgeMs * 10000);
        created->dwLowDateTime = time.LowPart;
        created->dwHighDateTime = time.HighPart;
    }
    return result;
}

#if defined(_M_IX86) || defined(__i386__)
// The C runtime's functions; x64 has one calling convention.
template <typename R, typename... A, bool NoExcept, int Index>
struct Hook<R(__cdecl*)(A...) noexcept(NoExcept), Index>
{
    static R __cdecl Call(A... arguments)
    {
        Row& row = RowAt(Index);
        auto real = [&] { return reinterpret_cast<R(__cdecl*)(A...)>(row.original)(arguments...); };
        return Intercept<R>(row, real, arguments...);
    }
};
#endif

constexpr int kFirstRow = __COUNTER__ + 1;
// clang-format off
#define HOOK_AS(name, type, failValue, error, flags, kind) \
    {#name, reinterpret_cast<std::uintptr_t>(&Hook<type, __COUNTER__ - kFirstRow>::Call), \
     failValue, error, flags, kind, 0, 0, 0}
#define HOOK(name, failValue, error, flags, kind) \
    HOOK_AS(name, decltype(&::name), failValue, error, flags, kind)
#define HOOK_THROUGH(name, wrapper, failValue, error, flags, kind) \
    {#name, reinterpret_cast<std::uintptr_t>( \
         &wrapper<Hook<decltype(&::name), __COUNTER__ - kFirstRow>>), \
     failValue, error, flags, kind, 0, 0, 0}
// clang-format on

#if defined(__GNUC__)
// The C runtime declares its allocators with attributes no pointer type keeps.
#pragma GCC diagnostic ignored "-Wignored-attributes"
#endif
// Every import whose failure its caller could see; the sweep lists the rest.
// clang-format off
Row g_rows[] = {
    HOOK(RegOpenKeyExW, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, kStatus | kAcquire, kRegistryKey),
    HOOK(RegQueryValueExW, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, kStatus, kNone),
    HOOK(RegDeleteValueW, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, kStatus, kNone),
    HOOK(RegCloseKey, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE, kStatus | kAfterCall | kRelease, kRegistryKey),
    HOOK(CreateFileW, -1, ERROR_ACCESS_DENIED, kAcquire, kKernelHandle),
    HOOK(ReadFile, FALSE, ERROR_READ_FAULT, 0, kNone),
    HOOK(WriteFile, FALSE, ERROR_WRITE_FAULT, 0, kNone),
    HOOK(SetFilePointer, -1, ERROR_NEGATIVE_SEEK, 0, kNone),
    HOOK(DeleteFileW, FALSE, ERROR_ACCESS_DENIED, 0, kNone),
    HOOK(CloseHandle, FALSE, ERROR_INVALID_HANDLE, kAfterCall | kRelease, kKernelHandle),
    HOOK(CreateEventW, 0, ERROR_NO_SYSTEM_RESOURCES, kAcquire, kKernelHandle),
    HOOK(CreateThread, 0, ERROR_NOT_ENOUGH_MEMORY, kAcquire, kKernelHandle),
    HOOK(SetEvent, FALSE, ERROR_INVALID_HANDLE, 0, kNone),
    HOOK(WaitForSingleObject, -1, ERROR_INVALID_HANDLE, 0, kNone),
    HOOK_THROUGH(GetProcessTimes, AgedProcessTimes, FALSE, ERROR_ACCESS_DENIED, 0, kNone),
    HOOK(MultiByteToWideChar, 0, ERROR_NO_UNICODE_TRANSLATION, 0, kNone),
    HOOK(WideCharToMultiByte, 0, ERROR_NO_UNICODE_TRANSLATION, 0, kNone),
    // The ends of the process: the report is written first.
    HOOK(TerminateProcess, FALSE, ERROR_ACCESS_DENIED, kReportFirst, kNone),
    // Declared noreturn, which one compiler keeps in the type.
    HOOK_AS(ExitProcess, void(WINAPI*)(UINT), 0, 0, kReportFirst | kNeverFails, kNone),
    HOOK_AS(exit, void(__cdecl*)(int), 0, 0, kReportFirst | kNeverFails, kNone),
    // Called by the C and C++ runtime and winpthreads only.
    HOOK(CreateEventA, 0, ERROR_NO_SYSTEM_RESOURCES, 0, kNone), HOOK(CreateSemaphoreA, 0, ERROR_NO_SYSTEM_RESOURCES, 0, kNone), HOOK(ReleaseSemaphore, FALSE, ERROR_TOO_MANY_POSTS, 0, kNone),
    HOOK(ResetEvent, FALSE, ERROR_INVALID_HANDLE, 0, kNone), HOOK(WaitForMultipleObjects, -1, ERROR_INVALID_HANDLE, 0, kNone), HOOK(DuplicateHandle, FALSE, ERROR_ACCESS_DENIED, 0, kNone),
    HOOK(OpenProcess, 0, ERROR_ACCESS_DENIED, 0, kNone), HOOK(GetHandleInformation, FALSE, ERROR_INVALID_HANDLE, 0, kNone), HOOK(GetModuleHandleA, 0, ERROR_MOD_NOT_FOUND, 0, kNone),
    HOOK(GetModuleHandleW, 0, ERROR_MOD_NOT_FOUND, 0, kNone), HOOK(LoadLibraryA, 0, ERROR_MOD_NOT_FOUND, 0, kNone), HOOK(LoadLibraryW, 0, ERROR_MOD_NOT_FOUND, 0, kNone),
    HOOK(FreeLibrary, FALSE, ERROR_INVALID_HANDLE, 0, kNone), HOOK(GetProcAddress, 0, ERROR_PROC_NOT_FOUND, 0, kNone), HOOK(GetProcessAffinityMask, FALSE, ERROR_ACCESS_DENIED, 0, kNone),
    HOOK(SetProcessAffinityMask, FALSE, ERROR_ACCESS_DENIED, 0, kNone), HOOK(GetThreadPriority, THREAD_PRIORITY_ERROR_RETURN, ERROR_INVALID_HANDLE, 0, kNone), HOOK(SetThreadPriority, FALSE, ERROR_INVALID_HANDLE, 0, kNone),
    HOOK(GetThreadContext, FALSE, ERROR_ACCESS_DENIED, 0, kNone), HOOK(SetThreadContext, FALSE, ERROR_ACCESS_DENIED, 0, kNone), HOOK(SuspendThread, -1, ERROR_ACCESS_DENIED, 0, kNone),
    HOOK(ResumeThread, -1, ERROR_ACCESS_DENIED, 0, kNone), HOOK(TlsAlloc, -1, ERROR_NO_SYSTEM_RESOURCES, 0, kNone), HOOK(TlsSetValue, FALSE, ERROR_NOT_ENOUGH_MEMORY, 0, kNone),
    HOOK(VirtualProtect, FALSE, ERROR_INVALID_ADDRESS, 0, kNone), HOOK(VirtualQuery, 0, ERROR_INVALID_PARAMETER, 0, kNone), HOOK(AddVectoredExceptionHandler, 0, ERROR_NOT_ENOUGH_MEMORY, 0, kNone),
    HOOK(RemoveVectoredExceptionHandler, 0, ERROR_INVALID_PARAMETER, 0, kNone), HOOK(malloc, 0, ERROR_NOT_ENOUGH_MEMORY, 0, kNone), HOOK(calloc, 0, ERROR_NOT_ENOUGH_MEMORY, 0, kNone),
    HOOK(realloc, 0, ERROR_NOT_ENOUGH_MEMORY, 0, kNone), HOOK(_strdup, 0, ERROR_NOT_ENOUGH_MEMORY, 0, kNone), HOOK(_beginthreadex, 0, ERROR_NOT_ENOUGH_MEMORY, 0, kNone),
    HOOK(_onexit, 0, ERROR_NOT_ENOUGH_MEMORY, 0, kNone), HOOK(signal, -1, ERROR_INVALID_PARAMETER, 0, kNone), HOOK(_read, -1, ERROR_INVALID_HANDLE, 0, kNone),
    HOOK(_close, -1, ERROR_INVALID_HANDLE, 0, kNone),
    // COM, OLE strings, the shell and WinINet: the program's own.
    HOOK(CoInitializeEx, E_OUTOFMEMORY, ERROR_OUTOFMEMORY, kHResult | kAcquire, kApartment),
    HOOK(CoUninitialize, 0, 0, kRelease | kNeverFails, kApartment),
    HOOK(CoCreateInstance, REGDB_E_CLASSNOTREG, ERROR_FILE_NOT_FOUND, kHResult, kNone),
    HOOK(CoTaskMemFree, 0, 0, kRelease | kNeverFails, kItemList),
    HOOK(SysAllocString, 0, ERROR_NOT_ENOUGH_MEMORY, kAllocation | kAcquire, kOleString),
    HOOK(SysAllocStringByteLen, 0, ERROR_NOT_ENOUGH_MEMORY, kAllocation | kAcquire, kOleString),
    HOOK(SysFreeString, 0, 0, kRelease | kNeverFails, kOleString),
    HOOK(SHGetSpecialFolderLocation, E_FAIL, ERROR_PATH_NOT_FOUND, kHResult | kAcquire, kItemList),
    HOOK(SHGetPathFromIDListW, FALSE, ERROR_PATH_NOT_FOUND, 0, kNone),
    HOOK(SHGetFolderPathW, E_FAIL, ERROR_PATH_NOT_FOUND, kHResult, kNone),
    HOOK(PathFileExistsW, FALSE, ERROR_ACCESS_DENIED, 0, kNone),
    HOOK(InternetOpenW, 0, ERROR_INTERNET_INTERNAL_ERROR, kAcquire, kInternetHandle),
    HOOK(InternetConnectW, 0, ERROR_INTERNET_CANNOT_CONNECT, kAcquire, kInternetHandle),
    HOOK(HttpOpenRequestW, 0, ERROR_INTERNET_INTERNAL_ERROR, kAcquire, kInternetHandle),
    HOOK(HttpSendRequestW, FALSE, ERROR_INTERNET_TIMEOUT, 0, kNone),
    HOOK(InternetSetOptionW, FALSE, ERROR_INTERNET_INVALID_OPTION, 0, kNone),
    HOOK(InternetQueryOptionA, FALSE, ERROR_INTERNET_INCORRECT_HANDLE_STATE, 0, kNone),
    HOOK(InternetReadFile, FALSE, ERROR_INTERNET_CONNECTION_RESET, 0, kNone),
    HOOK(InternetCloseHandle, FALSE, ERROR_INVALID_HANDLE, kAfterCall | kRelease, kInternetHandle),
};
// clang-format on

Row& RowAt(int index)
{
    return g_rows[index];
}

// The report is built in place and written through the saved originals: the
// injector's own work must neither count nor fail.
char g_report[1 << 18];
size_t g_reportSize = 0;
wchar_t g_reportPath[MAX_PATH] = {};
const char* g_unhooked[256] = {};
int g_unhookedCount = 0;

Row* Find(const char* name)
{
    return std::find_if(g_rows, std::end(g_rows),
                        [&](const Row& row) { return !std::strcmp(row.name, name); });
}

void Add(const char* text)
{
    for (; *text != '\0' && g_reportSize + 1 < sizeof g_report; ++text)
    {
        g_report[g_reportSize++] = *text;
    }
}

void Add(long value)
{
    char digits[24] = {};
    char* at = &digits[22];
    const unsigned long magnitude = static_cast<unsigned long>(value);
    for (unsigned long rest = value < 0 ? 0UL - magnitude : magnitude;
         rest != 0 || at == &digits[22]; rest /= 10)
    {
        *at-- = static_cast<char>('0' + rest % 10);
    }
    *at = '-';
    Add(value < 0 ? at : at + 1);
}

template <typename... T>
void Line(T... parts)
{
    (Add(parts), ...);
    Add("\n");
}

template <typename F>
F Original(const char* name)
{
    return reinterpret_cast<F>(Find(name)->original);
}

// Milliseconds since the process was really created: its own clock, on which
// its deadline is a promise, whatever Wine takes to start and end it.
ULONGLONG RealAgeMs()
{
    FILETIME created = {}, exited = {}, kernel = {}, user = {}, now = {};
    Original<decltype(&GetProcessTimes)>("GetProcessTimes")(GetCurrentProcess(), &created, &exited,
                                                            &kernel, &user);
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER start, current;
    start.LowPart = created.dwLowDateTime;
    start.HighPart = created.dwHighDateTime;
    current.LowPart = now.dwLowDateTime;
    current.HighPart = now.dwHighDateTime;
    return current.QuadPart > start.QuadPart ? (current.QuadPart - start.QuadPart) / 10000 : 0;
}

// How many of the threads the program started are still running.
long RunningThreads()
{
    long running = 0;
    for (const DWORD id : g_threads)
    {
        const HANDLE thread = id != 0 ? g_openThread(SYNCHRONIZE, FALSE, id) : nullptr;
        if (thread != nullptr)
        {
            running += Original<decltype(&WaitForSingleObject)>("WaitForSingleObject")(thread, 0) ==
                       WAIT_TIMEOUT;
            Original<decltype(&CloseHandle)>("CloseHandle")(thread);
        }
    }
    return running;
}

void AddTally(const char* prefix, const Tally& tally)
{
    for (LONG i = 0;
         g_counting && i < tally.length && i < static_cast<LONG>(std::size(tally.sequence)); ++i)
    {
        Line(prefix, "sequence ",
             tally.sequence[i] < 0 ? "allocation" : g_rows[tally.sequence[i]].name);
    }
    Line(prefix, "allocations ", tally.allocations);
}

void WriteReport(bool ended)
{
    static volatile LONG once = 0;
    if (g_reportPath[0] == L'\0' || InterlockedExchange(&once, 1) != 0)
    {
        return;
    }
    // Whatever the process does on its way out is no longer the run's.
    g_ending = 1;
    // Allocations are swept by their own count, calls that cannot fail not at all.
    for (const Row& row : g_rows)
    {
        if (row.original == 0)
        {
            continue;
        }
        if ((row.flags & (kAllocation | kNeverFails)) != 0)
        {
            Line("tracked ", row.name, " ", row.calls);
        }
        else
        {
            Line("calls ", row.name, " ", row.calls);
            Line("watcher-calls ", row.name, " ", row.watcherCalls);
        }
    }
    for (int i = 0; i < g_unhookedCount; ++i)
    {
        Line("unhooked ", g_unhooked[i]);
    }
    AddTally("", g_main);
    AddTally("watcher-", g_watcher);
    Line("fired ", g_fired);
    Line("refused-closes ", g_refusedCloses);
    Line("handed-over ", g_handedOver);
    // Normally: the program returned from its entry. Quietly: it ended its
    // process itself, as the deadline's path does.
    Line("ended ", ended ? "normally" : "quietly");
    Line("age-ms ", static_cast<long>(RealAgeMs()));
    for (int kind = kKernelHandle; ended && kind < kKinds; ++kind)
    {
        Line("open ", kKindNames[kind], " ", g_live[kind]);
    }
    Line("running-threads ", RunningThreads());
    const LONG found = g_getValue(HKEY_CURRENT_USER, kRunOnceKey, kRunOnceValue, RRF_RT_ANY,
                                  nullptr, nullptr, nullptr);
    Line("runonce ", found == ERROR_SUCCESS ? "present" : "absent");
    const HANDLE file = Original<decltype(&CreateFileW)>("CreateFileW")(
        g_reportPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    Original<decltype(&WriteFile)>("WriteFile")(file, g_report, static_cast<DWORD>(g_reportSize),
                                                &written, nullptr);
    Original<decltype(&CloseHandle)>("CloseHandle")(file);
}

// Points every import in the table at its wrapper.
void Install()
{
    auto* const base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto protect = Lookup<decltype(&VirtualProtect)>(L"kernel32.dll", "VirtualProtect");
    const auto* const dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* const nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const DWORD imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports);
         dll->Name != 0; ++dll)
    {
        const auto* names =
            reinterpret_cast<const IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto* entry = reinterpret_cast<std::uintptr_t*>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++entry)
        {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
            {
                continue;
            }
            const char* name =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
            Row* row = Find(name);
            if (row == std::end(g_rows))
            {
                g_unhooked[g_unhookedCount < 255 ? g_unhookedCount++ : 255] = name;
                continue;
            }
            DWORD protection = 0;
            protect(entry, sizeof *entry, PAGE_READWRITE, &protection);
            row->original = std::exchange(*entry, row->hook);
            protect(entry, sizeof *entry, protection, &protection);
        }
    }
}

// The decimal number a text starts with.
ULONGLONG Number(const wchar_t* text)
{
    ULONGLONG number = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text)
    {
        number = number * 10 + static_cast<ULONGLONG>(*text - L'0');
    }
    return number;
}

// Before any other static object: set up from ZORVIK_FAULT, then hook.
struct Injector
{
    Injector()
    {
        wchar_t fault[128] = {};
        if (GetEnvironmentVariableW(L"ZORVIK_FAULT", fault, 128) == 0 ||
            GetEnvironmentVariableW(L"ZORVIK_FAULT_REPORT", g_reportPath, MAX_PATH) == 0)
        {
            g_reportPath[0] = L'\0';
            return;
        }
        // "count", or "alloc K" or "call NAME K", each with "watcher " before
        // it for the waiting thread's: K follows the last space.
        const wchar_t* k = fault;
        for (const wchar_t* at = fault; *at != L'\0'; ++at)
        {
            k = *at == L' ' ? at + 1 : k;
        }
        g_failAt = static_cast<LONG>(Number(k));
        g_mainThread = GetCurrentThreadId();
        wchar_t left[16] = {};
        if (GetEnvironmentVariableW(L"ZORVIK_FAULT_DEADLINE", left, 16) != 0)
        {
            const ULONGLONG deadlineMs = ZORVIK_RUN_DEADLINE_SECONDS * 1000ULL;
            const ULONGLONG leftMs = Number(left);
            g_extraAgeMs = static_cast<LONGLONG>(deadlineMs) - static_cast<LONGLONG>(leftMs);
        }
        g_faultOnWatcher = std::wcsncmp(fault, L"watcher ", 8) == 0;
        const wchar_t* const what = g_faultOnWatcher ? fault + 8 : fault;
        g_counting = std::wcsncmp(what, L"count", 6) == 0;
        g_failAllocation = std::wcsncmp(what, L"alloc ", 6) == 0;
        if (std::wcsncmp(what, L"call ", 5) == 0)
        {
            char name[64] = {};
            for (size_t i = 0; i + 1 < sizeof name && what[5 + i] != L' ' && what[5 + i] != L'\0';
                 ++i)
            {
                name[i] = static_cast<char>(what[5 + i]);
            }
            g_target = Find(name);
        }
        g_createThread = Find("CreateThread");
        g_wait = Find("WaitForSingleObject");
        g_folderPath = Find("SHGetFolderPathW");
        g_threadId = Lookup<decltype(g_threadId)>(L"kernel32.dll", "GetThreadId");
        g_openThread = Lookup<decltype(g_openThread)>(L"kernel32.dll", "OpenThread");
        g_deleteValue = Find("RegDeleteValueW");
        wchar_t hold[32] = {};
        GetEnvironmentVariableW(L"ZORVIK_FAULT_HOLD", hold, 32);
        const std::pair<const wchar_t*, Hold> holds[] = {
            {L"watcher-until-main", Hold::WatcherUntilMain},
            {L"watcher-for-good", Hold::WatcherForGood},
            {L"main-until-watcher", Hold::MainUntilWatcher},
            {L"main-for-good", Hold::MainForGood}};
        for (const auto& [text, value] : holds)
        {
            g_hold = std::wcscmp(hold, text) == 0 ? value : g_hold;
        }
        if (GetEnvironmentVariableW(L"ZORVIK_FAULT_RELEASE", g_releaseFile, MAX_PATH) == 0)
        {
            g_releaseFile[0] = L'\0';
        }
        g_holdAfterWait = g_target == g_wait && !g_faultOnWatcher && g_hold == Hold::None;
        const auto createEvent = Lookup<decltype(&CreateEventW)>(L"kernel32.dll", "CreateEventW");
        g_otherArrived = createEvent(nullptr, TRUE, FALSE, nullptr);
        g_mainCleaning = createEvent(nullptr, TRUE, FALSE, nullptr);
        // The run's starting state, as the update product leaves it.
        const wchar_t data[] = L"C:\\Program Files\\Zorvik\\ZorvikUpdateReport.exe";
        Lookup<LONG(WINAPI*)(HKEY, LPCWSTR, LPCWSTR, DWORD, LPCVOID, DWORD)>(
            L"advapi32.dll", "RegSetKeyValueW")(HKEY_CURRENT_USER, kRunOnceKey, kRunOnceValue,
                                                REG_SZ, data, sizeof data);
        g_getValue = Lookup<decltype(g_getValue)>(L"advapi32.dll", "RegGetValueW");
        Install();
        g_malloc = Original<void* (*)(std::size_t)>("malloc");
    }
} g_injector;

} // namespace

#if defined(ZORVIK_COVERAGE)
// A coverage build writes its counts before the deadline's path ends the
// process; what that writing calls is the coverage runtime's, not the run's.
extern "C" void __real___gcov_dump();
extern "C" void __wrap___gcov_dump()
{
    InterlockedIncrement(&g_inCoverageDump);
    __real___gcov_dump();
    InterlockedDecrement(&g_inCoverageDump);
}
#endif

// Every allocation through operator new counts, and one may fail. The
// library's other forms (arrays, nothrow) allocate through this one, and its
// operator delete frees what malloc gave.
void* operator new(std::size_t size)
{
    void* const memory =
        NextAllocationFails()
            ? nullptr
            : (g_malloc != nullptr ? g_malloc : &std::malloc)(size != 0 ? size : 1);
    return memory != nullptr ? memory : throw std::bad_alloc();
}
