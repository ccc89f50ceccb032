// Built by the mingw-w64 toolchain only (see CMakeLists.txt).
//
// libstdc++'s default terminate handler writes the type of the exception in
// flight, demangled, to stderr and then aborts. The demangler and the printf
// family it pulls in are about a quarter of the program, and a program with
// no console has nowhere to write. This definition takes the place of the
// library's: the process still ends through abort(), only without the text.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx
{
void __verbose_terminate_handler()
{
    std::abort();
}
} // namespace __gnu_cxx
