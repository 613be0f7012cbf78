# A stand-in audio-writer component that records its calls, in a folder of its own that the
# tests name as the system directory.
set(_recording_dir ${CMAKE_BINARY_DIR}/tests/recording-writer)
add_library(test_recording_writer MODULE ${CMAKE_CURRENT_LIST_DIR}/recording_writer.cpp)
target_include_directories(test_recording_writer PRIVATE ${CMAKE_SOURCE_DIR})
set_target_properties(test_recording_writer PROPERTIES
  OUTPUT_NAME wmaudsdk PREFIX "" SUFFIX ".so" LIBRARY_OUTPUT_DIRECTORY ${_recording_dir}
  CXX_VISIBILITY_PRESET hidden)

talrec_add_test(convert_converter_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/converter_test.cpp
  LIBS talrec_convert)
target_compile_definitions(convert_converter_test PRIVATE
  RECORDING_WRITER_DIR="${_recording_dir}" COMPONENT_DIR="${CMAKE_LIBRARY_OUTPUT_DIRECTORY}")
add_dependencies(convert_converter_test test_recording_writer wmaudsdk)
# Without unique symbols the library really goes away when it is unloaded.
target_compile_options(test_recording_writer PRIVATE $<$<CXX_COMPILER_ID:GNU>:-fno-gnu-unique>)
