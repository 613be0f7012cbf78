# Cross-builds for 32-bit Windows, the build that ships, with Debian's mingw-w64
# (g++-mingw-w64-i686-posix):
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TALREC_MINGW_TRIPLET i686-w64-mingw32)
set(TALREC_WINE_WINDOWS_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
set(TALREC_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/TalrecMingw.cmake)
