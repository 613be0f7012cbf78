talrec_add_test(wave_manager_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/wave_manager_test.cpp ${CMAKE_SOURCE_DIR}/tests/platform/wave_test_util.cpp
  LIBS talrec_audio LABELS threads)
talrec_add_test(wave_manager_stress_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/wave_manager_stress_test.cpp ${CMAKE_SOURCE_DIR}/tests/platform/wave_test_util.cpp
  LIBS talrec_audio LABELS threads)
