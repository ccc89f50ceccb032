// Runs a program to its end and gives its exit code as Windows records it.
//   ExitCodeOf PROGRAM [ARGUMENTS...]
// The rest of the command line is the program's command line, unchanged, and
// the program shares this one's standard handles. Its exit code is written
// in decimal to the file that ZORVIK_EXIT_CODE_FILE names, then this program
// exits with it too.
//
// Under Wine, the Linux process of a Windows program that has ended with a
// code now and then dies by SIGSEGV after it: Wine's WinINet leaves a thread
// of its own running, and Wine's teardown of that thread faults. The wine
// command's status is then the signal's, not the program's exit code; the
// code Wine's server recorded is the one Windows would give.
//
// The program runs in a job that is closed with this process, so that a
// harness which gives up on a hung run and kills this process ends the
// program too.
#include "common/Owners.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace
{
// Where the program's own command line starts: after this program's name as
// the C runtime reads it, and the blanks that follow.
const wchar_t* ProgramCommandLine(const wchar_t* line)
{
    if (*line == L'"')
    {
        const wchar_t* end = std::wcschr(line + 1, L'"');
        line = end != nullptr ? end + 1 : line + std::wcslen(line);
    }
    else
    {
        line += std::wcscspn(line, L" \t");
    }
    return line + std::wcsspn(line, L" \t");
}

int Fail(const char* what)
{
    std::fprintf(stderr, "ExitCodeOf: %s failed with error %lu\n", what, GetLastError());
    return 127;
}

bool WriteCode(const wchar_t* path, DWORD code)
{
    FILE* const file = _wfopen(path, L"wb");
    if (file == nullptr)
    {
        return false;
    }
    const bool written = std::fprintf(file, "%lu\n", code) > 0;
    return std::fclose(file) == 0 && written;
}
} // namespace

int main()
{
    wchar_t codeFile[MAX_PATH] = {};
    const DWORD codeFileLength =
        GetEnvironmentVariableW(L"ZORVIK_EXIT_CODE_FILE", codeFile, MAX_PATH);
    if (codeFileLength == 0 || codeFileLength >= MAX_PATH)
    {
        std::fprintf(stderr, "ExitCodeOf: ZORVIK_EXIT_CODE_FILE names no file\n");
        return 127;
    }
    // A copy: CreateProcessW may write to the command line it is given.
    std::wstring commandLine = ProgramCommandLine(GetCommandLineW());
    if (commandLine.empty())
    {
        std::fprintf(stderr, "usage: ExitCodeOf PROGRAM [ARGUMENTS...]\n");
        return 127;
    }

    const CUniqueHandle job(CreateJobObjectW(/* lpJobAttributes */ nullptr, /* lpName */ nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job || !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                         sizeof limits))
    {
        return Fail("making the job");
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(/* lpApplicationName */ nullptr, commandLine.data(),
                        /* lpProcessAttributes */ nullptr, /* lpThreadAttributes */ nullptr,
                        /* bInheritHandles */ TRUE, CREATE_SUSPENDED, /* lpEnvironment */ nullptr,
                        /* lpCurrentDirectory */ nullptr, &startup, &started))
    {
        return Fail("starting the program");
    }
    const CUniqueHandle process(started.hProcess);
    const CUniqueHandle thread(started.hThread);
    if (!AssignProcessToJobObject(job.get(), process.get()))
    {
        TerminateProcess(process.get(), /* uExitCode */ 127);
        return Fail("putting the program in its job");
    }
    ResumeThread(thread.get());

    DWORD code = 0;
    if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.get(), &code))
    {
        return Fail("waiting for the program");
    }
    if (!WriteCode(codeFile, code))
    {
        return Fail("writing the exit code");
    }
    return static_cast<int>(code);
}
