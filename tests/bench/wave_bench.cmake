# CPU per second of sound of capture and playback, against arecord/aplay; a plain program
# that prints its figures (not run by ctest).
if(TALREC_BENCHMARKS AND TALREC_ALSA)
  add_executable(wave_bench ${CMAKE_CURRENT_LIST_DIR}/wave_bench.cpp)
  target_link_libraries(wave_bench PRIVATE talrec_audio)
endif()
