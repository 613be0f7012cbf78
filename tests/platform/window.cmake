# Window services: messages across threads, lifecycle, the loop, timers, message box.
talrec_add_test(window_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_messages_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/window_lifecycle_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/window_loop_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/window_timer_test.cpp
  LIBS talrec_platform
  LABELS threads)
