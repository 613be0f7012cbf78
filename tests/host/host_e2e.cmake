talrec_add_test(host_e2e_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/host_states_test.cpp ${CMAKE_CURRENT_LIST_DIR}/host_input_test.cpp
  LIBS talrec_audio nlohmann_json::nlohmann_json
  LABELS threads)
add_dependencies(host_e2e_test talrec TalRecorderForDvRecUp wmaudsdk)
