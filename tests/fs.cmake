# Test executables for fs/.
set(QB_TEST_LABEL fs)
qb_add_test(stream_test SOURCES stream_test.cpp LIBS qb_fs)
qb_add_test(file_stream_test SOURCES file_stream_test.cpp LIBS qb_fs)
qb_add_test(file_copy_test SOURCES file_copy_test.cpp LIBS qb_fs)
qb_add_test(path_text_test SOURCES path_text_test.cpp LIBS qb_fs)
qb_add_test(file_services_test SOURCES file_services_test.cpp LIBS qb_fs)
qb_add_test(folder_tree_test SOURCES folder_tree_test.cpp LIBS qb_fs)
qb_add_test(file_transfer_test SOURCES file_transfer_test.cpp LIBS qb_fs)
