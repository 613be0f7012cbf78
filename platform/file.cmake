# Files, the root object class and the archive, and multibyte string scans.
target_sources(talrec_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/afxobject.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/fileexception.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/memfile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/mbstring.cpp)
