talrec_add_test(com_automation_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/com_bstr_guid_test.cpp ${CMAKE_CURRENT_LIST_DIR}/com_variant_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/com_error_test.cpp
  LIBS talrec_platform)
