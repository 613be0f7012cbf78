# Warnings on and fatal for every target of the project.
add_compile_options(-Wall -Wextra -Wpedantic -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports false positives on std::vector/std::string under optimisation.
  add_compile_options(-Wno-stringop-overflow -Wno-array-bounds)
endif()
