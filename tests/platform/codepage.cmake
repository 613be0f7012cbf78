talrec_add_test(codepage_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/codepage_test.cpp LIBS talrec_platform)
