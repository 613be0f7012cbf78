# fuzz_rpc_session: the JSON-RPC session shared by `talrec host` and `talrec serve`, fed one
# arbitrary message at a time against a fake control. With TALREC_FUZZ (clang) it is a
# libFuzzer target; otherwise a replay program for its seed corpus. Either way the corpus is
# replayed as a test.
set(_corpus ${CMAKE_CURRENT_LIST_DIR}/corpus/rpc_session)
if(TALREC_FUZZ)
  add_executable(fuzz_rpc_session ${CMAKE_CURRENT_LIST_DIR}/rpc_session_fuzz.cpp)
  target_compile_options(fuzz_rpc_session PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_rpc_session PRIVATE -fsanitize=fuzzer)
  foreach(lib talrec_rpc talrec_platform)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
  add_test(NAME fuzz_rpc_session_corpus COMMAND fuzz_rpc_session -runs=0 ${_corpus})
else()
  add_executable(fuzz_rpc_session ${CMAKE_CURRENT_LIST_DIR}/rpc_session_fuzz.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/wave_reader_replay.cpp)
  add_test(NAME fuzz_rpc_session_corpus COMMAND fuzz_rpc_session ${_corpus})
endif()
target_link_libraries(fuzz_rpc_session PRIVATE talrec_rpc)
set_tests_properties(fuzz_rpc_session_corpus PROPERTIES LABELS "fuzz_rpc_session;fuzz")
