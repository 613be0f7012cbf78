target_sources(talrec_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/wave_devices.cpp)
if(TALREC_ALSA)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/src/wave_devices.cpp
                              PROPERTIES COMPILE_DEFINITIONS TALREC_DEVICE_HINTS=1)
endif()
