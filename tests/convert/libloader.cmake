talrec_add_test(convert_libloader_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/libloader_test.cpp
  LIBS talrec_platform)
target_compile_definitions(convert_libloader_test PRIVATE
  PLATFORM_LIBRARY_DIR="$<TARGET_FILE_DIR:talrec_platform>")
add_dependencies(convert_libloader_test wmaudsdk)
