# Cross-compiles a self-contained 64-bit Windows vorpex.exe with Debian's MinGW-w64
# (g++-mingw-w64-x86-64-posix; the -posix compilers have std::mutex, which GoogleTest needs):
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# No runtime DLLs to ship: the C and C++ runtimes and winpthreads are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# Tests run the .exe files through wine on the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
