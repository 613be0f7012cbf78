# Warnings on for every target of the project. TALREC_WERROR makes them fatal: CI's build
# stages turn it on (scripts/test.sh --werror); a plain configure, scripts/demo.sh and
# scripts/test.sh leave it off, so that a compiler with warnings of its own still builds the
# tree and the test command reuses what the demo built.
option(TALREC_WERROR "Treat compiler warnings as errors" OFF)
add_compile_options(-Wall -Wextra -Wpedantic)
if(TALREC_WERROR)
  add_compile_options(-Werror)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports false positives on std::vector/std::string under optimisation (-Wrestrict
  # at -O3 where std::string operator+ is inlined): they are still shown, but do not fail
  # the build.
  # -Wmaybe-uninitialized fires inside std::function and std::regex under the sanitizers.
  add_compile_options(-Wno-error=stringop-overflow -Wno-error=array-bounds -Wno-error=restrict
                      -Wno-error=maybe-uninitialized)
endif()
