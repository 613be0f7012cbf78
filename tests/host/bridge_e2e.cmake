talrec_add_test(bridge_e2e_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bridge_test.cpp
  LIBS nlohmann_json::nlohmann_json Boost::headers
  LABELS threads)
add_dependencies(bridge_e2e_test talrec TalRecorderForDvRecUp wmaudsdk)
