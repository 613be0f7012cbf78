# Run-time libraries (LoadLibraryA, GetProcAddress, FreeLibrary) and the system directory.
target_sources(talrec_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/libloader.cpp ${CMAKE_CURRENT_LIST_DIR}/src/modulehandle.cpp)
