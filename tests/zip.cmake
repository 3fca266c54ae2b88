# Test executables for zip/.
qb_add_test(zip_compressor_test SOURCES zip_compressor_test.cpp LIBS qb_zip)
qb_add_test(zip_format_test SOURCES zip_format_test.cpp LIBS qb_zip)
