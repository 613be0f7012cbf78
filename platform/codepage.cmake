# The ANSI code page and UTF-16 conversions over iconv.
target_sources(talrec_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/codepage.cpp)
target_link_libraries(talrec_platform PUBLIC Iconv::Iconv)
