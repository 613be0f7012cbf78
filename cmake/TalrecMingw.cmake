# What the two mingw-w64 toolchain files share; each sets TALREC_MINGW_TRIPLET,
# CMAKE_SYSTEM_PROCESSOR, TALREC_WINE_WINDOWS_DIR (Wine's Windows-side files of that
# architecture) and TALREC_WINE_LOADER first, then includes this file.
# The "-posix" compilers are used: GCC 12's "-win32" thread model has no std::thread,
# std::mutex or std::condition_variable. Everything is linked statically (-static), so that a
# module needs only the system's DLLs: -static-libgcc -static-libstdc++ alone would still leave
# an import of libwinpthread-1.dll.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TALREC_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALREC_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TALREC_MINGW_TRIPLET}-windres)
# The IDL compiler for type libraries (mingw-w64-tools). mingw-w64 ships no .idl files, so an
# IDL declares the few base types it uses itself and imports stdole2.tlb from Wine's folder.
find_program(TALREC_WIDL NAMES ${TALREC_MINGW_TRIPLET}-widl widl REQUIRED)
set(TALREC_WIDL_LIBRARY_PATH ${TALREC_WINE_WINDOWS_DIR}
    CACHE PATH "Folder that holds stdole2.tlb for the IDL compiler's importlib")

set(CMAKE_FIND_ROOT_PATH /usr/${TALREC_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--enable-stdcall-fixup")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -Wl,--enable-stdcall-fixup")

# Test programs run under Wine.
if(EXISTS ${TALREC_WINE_LOADER})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TALREC_WINE_LOADER})
endif()
