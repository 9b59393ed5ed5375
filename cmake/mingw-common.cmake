# Shared part of the MinGW-w64 cross builds; QN_MINGW_PREFIX names the target.
# The posix thread model gives the C++ thread and mutex types; everything is
# linked statically (see the top CMakeLists.txt).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QN_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
