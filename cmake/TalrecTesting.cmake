include(GoogleTest)
find_package(GTest REQUIRED)

# Every test runs with its own scratch folders, so that nothing a test does reaches the
# user's data folder or registry or the system's temporary folder, and with the virtual wave
# device unless it asks otherwise.
set(TALREC_TEST_TMPDIR ${CMAKE_BINARY_DIR}/test-home/tmp)
set(TALREC_TEST_ENV
    "TALREC_WAVE_DEVICE=virtual"
    "TMPDIR=${TALREC_TEST_TMPDIR}"
    "XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-home/data"
    "XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-home/config"
    "XDG_STATE_HOME=${CMAKE_BINARY_DIR}/test-home/state"
    "TALREC_SYSTEM_DIR=${CMAKE_LIBRARY_OUTPUT_DIRECTORY}"
    "TALREC_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data"
    "TALREC_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
    "TALREC_LIB_DIR=${CMAKE_LIBRARY_OUTPUT_DIRECTORY}")
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test-home/data ${CMAKE_BINARY_DIR}/test-home/config
     ${TALREC_TEST_TMPDIR})

# talrec_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS device])
function(talrec_add_test name)
  if(NOT TALREC_TESTS)
    return()  # a fuzzing build makes only the fuzz targets
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  # The properties are set from a generated file: list values given to gtest_discover_tests
  # directly are flattened, which would lose every label and variable but the first.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_LIST ${name}_TESTS)
  file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${name}_props.cmake CONTENT
    "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT [==[${TALREC_TEST_ENV}]==] LABELS [==[${name};${T_LABELS}]==])\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}_props.cmake)
endfunction()
