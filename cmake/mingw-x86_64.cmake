# Cross build for 64-bit Windows (x64) with Debian's mingw-w64 (posix threads model).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
# The 64-bit loader by name: Debian's wine command takes the 32-bit one whenever wine32 is
# installed, even on a machine that cannot execute it.
if(EXISTS /usr/lib/wine/wine64)
  set(_wine64 /usr/lib/wine/wine64)
else()
  set(_wine64 wine64)
endif()
set(WINE_LOADER ${_wine64} CACHE STRING "Wine loader that runs the x64 tests")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
