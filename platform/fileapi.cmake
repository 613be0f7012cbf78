target_sources(talrec_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/fileapi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/filefind.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/shell.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/container.cpp)
