talrec_add_test(bridge_e2e_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bridge_test.cpp
  LIBS nlohmann_json::nlohmann_json Boost::headers
  LABELS threads)
add_dependencies(bridge_e2e_test talrec TalRecorderForDvRecUp wmaudsdk)
if(TARGET bridge_e2e_test AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC under the sanitizers warns of an uninitialised optional inside Beast's HTTP parser.
  target_compile_options(bridge_e2e_test PRIVATE -Wno-maybe-uninitialized)
endif()
