talrec_add_test(wave_buffer_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/wave_buffer_test.cpp
                LIBS talrec_audio)
