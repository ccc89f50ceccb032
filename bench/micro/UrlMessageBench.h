#pragma once

// Escaping and parsing the service URL, and composing a run's message: time
// and allocations per call, each beside a reference that does the least the
// same result needs (the platform's own URL cracker; one copy of the finished
// body).
void RunUrlMessageBench(int rounds);
