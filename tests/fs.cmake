# Test executables for fs/.
qb_add_test(stream_test SOURCES stream_test.cpp LIBS qb_fs)
qb_add_test(file_stream_test SOURCES file_stream_test.cpp LIBS qb_fs)
qb_add_test(file_copy_test SOURCES file_copy_test.cpp LIBS qb_fs)
