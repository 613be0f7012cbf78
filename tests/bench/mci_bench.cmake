# CPU cost of playing WMA and MP3 through the media control service, against ffmpeg.
if(TALREC_BENCHMARKS)
  add_executable(mci_bench ${CMAKE_CURRENT_LIST_DIR}/mci_bench.cpp
                           ${CMAKE_CURRENT_SOURCE_DIR}/../platform/mci_media.cpp)
  target_include_directories(mci_bench PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(mci_bench PRIVATE talrec_platform)
endif()
