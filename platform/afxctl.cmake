target_sources(talrec_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/afxconv.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/afxctl_dispatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/afxctl_ole.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/afxctl_window.cpp)
