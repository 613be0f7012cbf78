# fuzz_wave_reader: the CWave reader fed with arbitrary bytes through a file in memory.
# With TALREC_FUZZ (clang) it is a libFuzzer target, and the code it reaches is built with
# coverage for the fuzzer; otherwise it is a replay program for its seed corpus. Either way
# the corpus is replayed as a test.
set(_corpus ${CMAKE_CURRENT_LIST_DIR}/corpus/wave_reader)
if(TALREC_FUZZ)
  add_executable(fuzz_wave_reader ${CMAKE_CURRENT_LIST_DIR}/wave_reader_fuzz.cpp)
  target_compile_options(fuzz_wave_reader PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_wave_reader PRIVATE -fsanitize=fuzzer)
  foreach(lib talrec_audio talrec_platform)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
  add_test(NAME fuzz_wave_reader_corpus COMMAND fuzz_wave_reader -runs=0 ${_corpus})
else()
  add_executable(fuzz_wave_reader ${CMAKE_CURRENT_LIST_DIR}/wave_reader_fuzz.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/wave_reader_replay.cpp)
  add_test(NAME fuzz_wave_reader_corpus COMMAND fuzz_wave_reader ${_corpus})
endif()
target_link_libraries(fuzz_wave_reader PRIVATE talrec_audio)
set_tests_properties(fuzz_wave_reader_corpus PROPERTIES LABELS "fuzz_wave_reader;fuzz")
