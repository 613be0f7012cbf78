# What the Windows build needs besides the toolchain: the resource compiler, the threads of
# the "-posix" runtime, Boost's and nlohmann/json's headers, the SDK settings every target
# compiles with, and one precompiled header of the SDK that every target reuses.
enable_language(RC)
# Warnings on for the C++ of every target (the resource compiler takes none), fatal with
# TALREC_WERROR as in the Linux build. GCC 12's false positives on std::vector/std::string
# under optimisation are shown but never fatal.
option(TALREC_WERROR "Treat compiler warnings as errors" OFF)
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:-Wall;-Wextra;-Wpedantic>")
if(TALREC_WERROR)
  add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:-Werror>")
endif()
add_compile_options(
  "$<$<COMPILE_LANGUAGE:CXX>:-Wno-error=stringop-overflow;-Wno-error=array-bounds;-Wno-error=restrict>")
find_package(Threads REQUIRED)

# Boost is header-only where the control uses it (shared_ptr). The cross build searches only
# the mingw-w64 root, so the host's headers are offered through a folder that holds nothing
# but them (adding /usr/include itself would bring the host's C library in).
find_path(TALREC_BOOST_ROOT boost/version.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          NO_DEFAULT_PATH REQUIRED)
set(_boost_include ${CMAKE_BINARY_DIR}/boost-include)
file(MAKE_DIRECTORY ${_boost_include})
file(CREATE_LINK ${TALREC_BOOST_ROOT}/boost ${_boost_include}/boost SYMBOLIC)
add_library(Boost::headers INTERFACE IMPORTED)
set_target_properties(Boost::headers PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES
                      ${_boost_include} INTERFACE_INCLUDE_DIRECTORIES ${_boost_include})

# nlohmann/json, header-only, for the talrec program: offered the same way.
find_path(TALREC_NLOHMANN_ROOT nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          NO_DEFAULT_PATH REQUIRED)
file(CREATE_LINK ${TALREC_NLOHMANN_ROOT}/nlohmann ${_boost_include}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES
                      ${_boost_include} INTERFACE_INCLUDE_DIRECTORIES ${_boost_include})

# The SDK as every Windows target sees it: Windows 7's API, the A forms (UNICODE undefined),
# no min/max macros.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)

# The SDK headers cost seconds per translation unit: talrec_platform precompiles them
# (platform/win32/sdk.h), and every layer reuses that copy.
function(talrec_use_sdk_pch target)
  target_precompile_headers(${target} REUSE_FROM talrec_platform)
endfunction()
