# The wave-audio service (waveIn*/waveOut*): the front, its device streams, the virtual
# device, and the ALSA device when the build has ALSA.
target_sources(talrec_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/wave_api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/wave_errors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/wave_stream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/wave_clock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/wave_riff.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/wave_virtual.cpp)
if(TALREC_ALSA)
  target_sources(talrec_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/wave_alsa.cpp)
  target_link_libraries(talrec_platform PUBLIC PkgConfig::ALSA)
else()
  target_sources(talrec_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/wave_alsa_none.cpp)
endif()
