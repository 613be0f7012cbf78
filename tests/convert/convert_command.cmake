talrec_add_test(convert_command_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/convert_command_test.cpp
  LIBS talrec_platform)
target_compile_definitions(convert_command_test PRIVATE
  COMPONENT_DIR="${CMAKE_LIBRARY_OUTPUT_DIRECTORY}" TALREC_EXE="$<TARGET_FILE:talrec>")
add_dependencies(convert_command_test talrec wmaudsdk)
