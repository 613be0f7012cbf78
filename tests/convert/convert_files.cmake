talrec_add_test(convert_files_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/convert_files_test.cpp
  LIBS talrec_convert)
target_compile_definitions(convert_files_test PRIVATE COMPONENT_DIR="${CMAKE_LIBRARY_OUTPUT_DIRECTORY}")
add_dependencies(convert_files_test wmaudsdk)
