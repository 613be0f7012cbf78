talrec_add_test(mci_player_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mci_player_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/../platform/mci_media.cpp
  LIBS talrec_audio
  LABELS threads)
