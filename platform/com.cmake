# The component model: automation strings and VARIANTs, identifiers, the file-backed
# registry, class objects of in-process servers, type libraries, connection points and
# component categories.
target_sources(talrec_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/com_bstr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/com_categories.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/com_coerce.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/com_connect.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/com_error.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/com_guid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/com_memory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/com_progid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/com_runtime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/com_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/com_variant.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/registry_api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/registry_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/registry_tree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/registry_util.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/typelib_data.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/typelib_load.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/typelib_object.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/typelib_register.cpp)
