// Holds a file open with no sharing until told to let go, so that the
// end-to-end suite can see how the program meets a file that another process
// has locked.
//   HoldFile FILE READY RELEASE
// Opens FILE, creates READY, then waits until RELEASE exists: the suite always
// makes it, and its prefix's end ends this program should it not.
#include <windows.h>

namespace
{
bool Exists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
    {
        return 2;
    }
    const HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, /* dwShareMode */ 0,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        return 1;
    }
    const HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready != INVALID_HANDLE_VALUE)
    {
        CloseHandle(ready);
    }
    while (!Exists(argv[3]))
    {
        Sleep(20);
    }
    CloseHandle(file);
    return 0;
}
