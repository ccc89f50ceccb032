#include "Output.h"

#include <cstdio>
#include <cstdlib>

void Emit(const char* item, const char* side, const char* key, int round, double value)
{
    std::printf("{\"item\": \"%s\", \"side\": \"%s\", \"key\": \"%s\", \"round\": %d, "
                "\"value\": %.9g}\n",
                item, side, key, round, value);
}

void Fail(const char* what)
{
    std::fprintf(stderr, "MicroBench: %s\n", what);
    std::fflush(stdout);
    std::exit(1);
}
