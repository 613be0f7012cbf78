# Cross-builds the same sources for 64-bit Windows (g++-mingw-w64-x86-64-posix). Not shipped:
# scripts/build-windows.sh makes this build only to test the control under wine64 where the
# kernel cannot run 32-bit programs, and so 32-bit Wine.
#   cmake -S . -B DIR -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TALREC_MINGW_TRIPLET x86_64-w64-mingw32)
set(TALREC_WINE_WINDOWS_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
set(TALREC_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/TalrecMingw.cmake)
