talrec_add_test(wave_virtual_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/wave_virtual_test.cpp ${CMAKE_CURRENT_LIST_DIR}/wave_test_util.cpp
  LIBS talrec_platform LABELS threads)
