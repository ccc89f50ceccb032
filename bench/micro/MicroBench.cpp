// The project's own code measured in process, under the same conditions as
// a reference side in the same run: session file reading, URL escaping and
// parsing, message composition. Prints JSON lines (see Output.h).
//   MicroBench session|url [ROUNDS]
#include "Output.h"
#include "SessionFileBench.h"
#include "UrlMessageBench.h"

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        Fail("usage: MicroBench session|url [ROUNDS]");
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
    if (rounds < 1)
    {
        Fail("ROUNDS must be positive");
    }
    if (std::strcmp(argv[1], "session") == 0)
    {
        RunSessionFileBench(rounds);
    }
    else if (std::strcmp(argv[1], "url") == 0)
    {
        RunUrlMessageBench(rounds);
    }
    else
    {
        Fail("unknown part");
    }
    return 0;
}
