talrec_add_test(registry_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/registry_test.cpp ${CMAKE_CURRENT_LIST_DIR}/registry_file_test.cpp
  LIBS talrec_platform)
talrec_add_test(registry_threads_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/registry_threads_test.cpp
  LIBS talrec_platform
  LABELS threads)
