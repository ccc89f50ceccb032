# Cross-compiles for 32-bit Windows with mingw-w64's GCC.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZORVIK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwGcc.cmake)
