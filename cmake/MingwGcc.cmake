# mingw-w64's GCC for ZORVIK_MINGW_TRIPLE, set by the toolchain file that
# includes this. The posix thread model is required: the win32 model lacks
# std::mutex, which GoogleTest uses.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZORVIK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZORVIK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZORVIK_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${ZORVIK_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for PE files")

set(CMAKE_FIND_ROOT_PATH /usr/${ZORVIK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
