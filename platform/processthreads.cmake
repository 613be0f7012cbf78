# Process and thread identity: GetCurrentProcessId.
target_sources(talrec_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/processthreads.cpp)
