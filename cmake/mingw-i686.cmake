# Cross build for 32-bit Windows (x86) with Debian's mingw-w64 (posix threads model).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLE i686-w64-mingw32)
# Debian's wine command takes the 32-bit loader whenever it is installed.
set(WINE_LOADER wine CACHE STRING "Wine loader that runs the x86 tests")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
