#include <windows.h>

// The reporting run is not wired in yet; until it is, the program does nothing
// and exits with 0.
int WINAPI wWinMain(HINSTANCE /* instance */, HINSTANCE /* previousInstance */,
                    PWSTR /* commandLine */, int /* showCommand */)
{
    return 0;
}
