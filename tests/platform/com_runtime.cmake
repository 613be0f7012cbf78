# A small in-process server module, created through the registry by the runtime's tests.
add_library(com_testmodule MODULE ${CMAKE_CURRENT_LIST_DIR}/com_testmodule.cpp)
target_link_libraries(com_testmodule PRIVATE talrec_platform)
target_include_directories(com_testmodule PRIVATE ${CMAKE_SOURCE_DIR})

talrec_add_test(com_runtime_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/com_runtime_test.cpp ${CMAKE_CURRENT_LIST_DIR}/com_categories_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/com_connect_test.cpp
  LIBS talrec_platform)
target_compile_definitions(com_runtime_test PRIVATE TEST_MODULE_PATH="$<TARGET_FILE:com_testmodule>")
add_dependencies(com_runtime_test com_testmodule)

talrec_add_test(typelib_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/typelib_test.cpp ${CMAKE_CURRENT_LIST_DIR}/typelib_registry_test.cpp
  LIBS talrec_platform)
target_compile_definitions(typelib_test PRIVATE TEST_MODULE_PATH="$<TARGET_FILE:com_testmodule>")
add_dependencies(typelib_test com_testmodule)
