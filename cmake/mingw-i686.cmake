# Cross compiling for Windows with Debian's mingw-w64 (g++-mingw-w64-i686).
# The -posix variants of the compilers bring std::thread and std::mutex.
# QZ381_MINGW_ARCH=x86_64 builds the same tree as 64-bit Windows programs: the
# Wine tests use it on machines whose kernel cannot run 32-bit code (Wine's
# 32-bit half is a 32-bit Linux program).
set(CMAKE_SYSTEM_NAME Windows)
if(NOT QZ381_MINGW_ARCH)
  set(QZ381_MINGW_ARCH i686)
endif()
set(QZ381_MINGW_ARCH ${QZ381_MINGW_ARCH} CACHE STRING "i686 (the product) or x86_64")
set(CMAKE_SYSTEM_PROCESSOR ${QZ381_MINGW_ARCH})

set(QZ381_MINGW_TRIPLE ${QZ381_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${QZ381_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QZ381_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QZ381_MINGW_TRIPLE}-windres)
set(QZ381_WIDL ${QZ381_MINGW_TRIPLE}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${QZ381_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and helper programs run under Wine, with the prefix inside the build
# folder (scripts/wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
