talrec_add_test(file_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_test.cpp LIBS talrec_platform)
