#pragma once

#include <cstddef>

// Kernel handles this process holds right now. (GetProcessHandleCount is a
// stub under Wine, so the system handle table is counted instead.)
size_t CountProcessHandles();
