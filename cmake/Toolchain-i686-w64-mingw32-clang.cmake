# Cross-compiles for 32-bit Windows with Clang and lld against the mingw-w64
# headers and libraries, including the mingw-w64 GCC's libstdc++ (the posix
# thread model, as in the GCC build).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ZORVIK_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${ZORVIK_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${ZORVIK_MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${ZORVIK_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${ZORVIK_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for PE files")

# Clang looks for the GCC's libstdc++ in a folder named after a version
# number; Debian names it after the thread model (12-posix), so Clang finds
# neither the headers nor the libraries by itself.
file(GLOB _zorvik_gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/${ZORVIK_MINGW_TRIPLE}/*-posix)
list(SORT _zorvik_gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET _zorvik_gcc_dirs 0 ZORVIK_MINGW_GCC_DIR)
set(_zorvik_cxx_include ${ZORVIK_MINGW_GCC_DIR}/include/c++)
string(JOIN " " CMAKE_CXX_FLAGS_INIT
  "-isystem ${_zorvik_cxx_include}"
  "-isystem ${_zorvik_cxx_include}/${ZORVIK_MINGW_TRIPLE}"
  "-isystem ${_zorvik_cxx_include}/backward")
# std::thread and std::mutex of the posix model live in winpthreads.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${ZORVIK_MINGW_GCC_DIR} -lpthread")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")

set(CMAKE_FIND_ROOT_PATH /usr/${ZORVIK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
