talrec_add_test(wave_file_layout_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/wave_file_layout_test.cpp
                LIBS talrec_audio)
talrec_add_test(wave_file_tools_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/wave_file_tools_test.cpp
                LIBS talrec_audio)
