# Test executables for fs/.
qb_add_test(stream_test SOURCES stream_test.cpp LIBS qb_fs)
