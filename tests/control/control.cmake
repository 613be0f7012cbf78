talrec_add_test(control_object_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/control_object_test.cpp
  LIBS talrec_control
  LABELS threads)
add_dependencies(control_object_test wmaudsdk)
