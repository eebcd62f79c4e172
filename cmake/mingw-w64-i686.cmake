# Cross build for 32-bit Windows with the mingw-w64 GCC:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
#
# RAWCONV_MINGW_ARCH selects the target (default i686, the shipped 32-bit
# build). x86_64 gives a 64-bit build of the same sources, used only to run
# the Windows tests on hosts that cannot execute 32-bit x86 code.
if(NOT RAWCONV_MINGW_ARCH)
  set(RAWCONV_MINGW_ARCH "$ENV{RAWCONV_MINGW_ARCH}")
endif()
if(NOT RAWCONV_MINGW_ARCH)
  set(RAWCONV_MINGW_ARCH i686)
endif()
# try_compile projects read this file again: hand the choice on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RAWCONV_MINGW_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
if(RAWCONV_MINGW_ARCH STREQUAL "x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()

set(_triple ${RAWCONV_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc)
set(CMAKE_CXX_COMPILER ${_triple}-g++)
set(CMAKE_RC_COMPILER ${_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
