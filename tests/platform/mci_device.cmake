# The media control service over a wave output driven by the test's own clock.
set(_mci ${PROJECT_SOURCE_DIR}/platform/src)
talrec_add_test(mci_device_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mci_device_test.cpp ${CMAKE_CURRENT_LIST_DIR}/mci_fake_wave.cpp
          ${CMAKE_CURRENT_LIST_DIR}/mci_media.cpp
          ${_mci}/mci_commands.cpp ${_mci}/mci_decoder.cpp ${_mci}/mci_device.cpp
          ${_mci}/mci_errors.cpp
  LIBS PkgConfig::FFMPEG
  LABELS threads)
