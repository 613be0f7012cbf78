# RIFF file I/O (mmio*) over POSIX files and in-memory streams.
target_sources(talrec_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/mmio.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/src/mmio_file.cpp)
