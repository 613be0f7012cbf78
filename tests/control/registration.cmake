# A copy of the control module whose type library carries another id.
add_library(TalRecorderForeignLib MODULE ${PROJECT_SOURCE_DIR}/control/Module.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/foreign_typelib_export.cpp)
target_link_libraries(TalRecorderForeignLib PRIVATE
  -Wl,--whole-archive talrec_control -Wl,--no-whole-archive talrec_platform)
set_target_properties(TalRecorderForeignLib PROPERTIES PREFIX "" SUFFIX ".ocx"
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_LIBRARY_OUTPUT_DIRECTORY} CXX_VISIBILITY_PRESET hidden)

talrec_add_test(control_registration_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/registration_test.cpp
  LIBS talrec_control)
add_dependencies(control_registration_test TalRecorderForDvRecUp TalRecorderForeignLib talrec)
