talrec_add_test(storage_data_folder_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/data_folder_test.cpp
  LIBS talrec_storage)
