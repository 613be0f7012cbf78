talrec_add_test(cli_commands_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cli_commands_test.cpp
  LIBS talrec_audio util
  LABELS threads)
add_dependencies(cli_commands_test talrec TalRecorderForDvRecUp wmaudsdk)
