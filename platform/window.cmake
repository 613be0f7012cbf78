# Window services: windows, messages, timers and the message loop, over Boost.Asio.
target_sources(talrec_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/window_loop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/window_msgbox.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/window_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/window_timer.cpp)
target_link_libraries(talrec_platform PRIVATE Boost::headers)

if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND TALREC_SANITIZE MATCHES "thread")
  # Asio ends each completion handler with a memory fence, which GCC warns ThreadSanitizer does
  # not model. The handler queue it follows is guarded by a mutex, which ThreadSanitizer models.
  file(GLOB _window_sources ${CMAKE_CURRENT_LIST_DIR}/src/window*.cpp)
  set_source_files_properties(${_window_sources} PROPERTIES COMPILE_OPTIONS -Wno-tsan)
endif()
