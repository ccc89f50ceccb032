#pragma once

// The benchmark's measurements, one JSON object per line on stdout, for
// tools/bench/run_bench.py: which item, which side of the comparison, what
// was measured, in which round, and the value.
void Emit(const char* item, const char* side, const char* key, int round, double value);

// Ends the program with a message on stderr when a measured call did not do
// what it is measured for: a figure of a failing call would mean nothing.
[[noreturn]] void Fail(const char* what);
