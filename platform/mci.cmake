# Media control service: mciSendCommandA over FFmpeg, playing through the wave-audio output.
target_sources(talrec_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/mci_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/mci_decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/mci_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/mci_errors.cpp)
target_link_libraries(talrec_platform PUBLIC PkgConfig::FFMPEG)
