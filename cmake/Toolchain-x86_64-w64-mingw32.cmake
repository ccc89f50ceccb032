# Cross-compiles the same sources for 64-bit Windows with mingw-w64's GCC: the
# test build for machines whose kernel cannot run 32-bit code, where Wine runs
# only 64-bit Windows programs. The product itself is the 32-bit build.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZORVIK_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwGcc.cmake)
