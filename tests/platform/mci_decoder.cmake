talrec_add_test(mci_decoder_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mci_decoder_test.cpp ${CMAKE_CURRENT_LIST_DIR}/mci_media.cpp
  LIBS talrec_platform)
