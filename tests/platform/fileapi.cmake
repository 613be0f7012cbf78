talrec_add_test(platform_fileapi_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fileapi_test.cpp
  LIBS talrec_platform)
