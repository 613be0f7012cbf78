# Window services: windows, messages, timers and the message loop, over Boost.Asio.
target_sources(talrec_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/window_loop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/window_msgbox.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/window_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/window_timer.cpp)
target_link_libraries(talrec_platform PRIVATE Boost::headers)
