# convert_bench: the conversion's speed against ffmpeg's (a plain program; not run by ctest).
if(TALREC_BENCHMARKS)
  add_executable(convert_bench ${CMAKE_CURRENT_LIST_DIR}/convert_bench.cpp)
  target_link_libraries(convert_bench PRIVATE talrec_convert)
  target_compile_definitions(convert_bench PRIVATE COMPONENT_DIR="${CMAKE_LIBRARY_OUTPUT_DIRECTORY}")
  add_dependencies(convert_bench wmaudsdk)
endif()
