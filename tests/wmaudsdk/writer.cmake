talrec_add_test(wmaudsdk_writer_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/writer_test.cpp
  LIBS talrec_platform)
target_compile_definitions(wmaudsdk_writer_test PRIVATE COMPONENT_DIR="${CMAKE_LIBRARY_OUTPUT_DIRECTORY}")
add_dependencies(wmaudsdk_writer_test wmaudsdk)
