# fuzz_wav_reader: the conversion's WAV chunk reader fed with arbitrary bytes through a stream
# in memory. With TALREC_FUZZ (clang) it is a libFuzzer target, and the code it reaches is built
# with coverage for the fuzzer; otherwise it is a replay program for its seed corpus. Either way
# the corpus is replayed as a test.
set(_corpus ${CMAKE_CURRENT_LIST_DIR}/corpus/wav_reader)
if(TALREC_FUZZ)
  add_executable(fuzz_wav_reader ${CMAKE_CURRENT_LIST_DIR}/wav_reader_fuzz.cpp)
  target_compile_options(fuzz_wav_reader PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_wav_reader PRIVATE -fsanitize=fuzzer)
  foreach(lib talrec_convert talrec_platform)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
  add_test(NAME fuzz_wav_reader_corpus COMMAND fuzz_wav_reader -runs=0 ${_corpus})
else()
  add_executable(fuzz_wav_reader ${CMAKE_CURRENT_LIST_DIR}/wav_reader_fuzz.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/wav_reader_replay.cpp)
  add_test(NAME fuzz_wav_reader_corpus COMMAND fuzz_wav_reader ${_corpus})
endif()
target_link_libraries(fuzz_wav_reader PRIVATE talrec_convert)
set_tests_properties(fuzz_wav_reader_corpus PROPERTIES LABELS "fuzz_wav_reader;fuzz")
