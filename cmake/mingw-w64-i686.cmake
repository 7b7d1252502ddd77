# Cross build for Windows (i686) with Debian's mingw-w64.
#
# The -posix compilers are used because only they carry std::thread and std::mutex in GCC 12;
# their threading runtime (winpthreads) is linked statically with the rest of the runtime, so
# no MinGW DLL has to travel beside the module or the test programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(RUZAZUV_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${RUZAZUV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RUZAZUV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RUZAZUV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RUZAZUV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

