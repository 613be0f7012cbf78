talrec_add_test(convert_wav_reader_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/wav_reader_test.cpp
  LIBS talrec_convert)
