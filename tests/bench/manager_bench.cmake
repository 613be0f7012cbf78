# Time and peak memory of stopping an hour-long recording, against cp.
if(TALREC_BENCHMARKS)
  add_executable(manager_bench ${CMAKE_CURRENT_LIST_DIR}/manager_bench.cpp)
  target_include_directories(manager_bench PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(manager_bench PRIVATE talrec_audio)
endif()
