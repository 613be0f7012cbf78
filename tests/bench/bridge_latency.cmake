if(TALREC_BENCHMARKS AND TALREC_TESTS)
  add_executable(bridge_latency_bench ${CMAKE_CURRENT_LIST_DIR}/bridge_latency.cpp)
  target_include_directories(bridge_latency_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(bridge_latency_bench PRIVATE nlohmann_json::nlohmann_json Boost::headers
                                                     Threads::Threads)
  add_dependencies(bridge_latency_bench talrec TalRecorderForDvRecUp)
endif()
