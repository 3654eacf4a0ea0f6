# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (x86_64-w64-mingw32). The -posix
# thread-model drivers are used because the win32 model of GCC 12 has no std::mutex or
# std::thread. Executables are linked statically so they run without the compiler's DLLs, and run
# through Wine when CMake or CTest needs to execute them (test discovery, ctest).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CORVEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CORVEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CORVEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -O2, not -O3: GCC 12 at -O3 reports false -Wrestrict overlaps inside std::string concatenation
# (its known bug), which -Werror turns into failures.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")

# No libgcc, libstdc++ or winpthread DLLs beside the executables.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(CORVEL_WINE NAMES wine wine64)
if(CORVEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVEL_WINE})
endif()
