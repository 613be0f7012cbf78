talrec_add_test(wave_device_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/wave_device_test.cpp ${CMAKE_SOURCE_DIR}/tests/platform/wave_test_util.cpp
  LIBS talrec_audio LABELS threads)
