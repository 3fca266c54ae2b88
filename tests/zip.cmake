# Test executables for zip/.
qb_add_test(zip_compressor_test SOURCES zip_compressor_test.cpp LIBS qb_zip)
qb_add_test(zip_format_test SOURCES zip_format_test.cpp LIBS qb_zip)
qb_add_test(zip_reader_test SOURCES zip_reader_test.cpp LIBS qb_zip)
if(NOT WIN32)
  qb_add_test(zip_reader_posix_test SOURCES zip_reader_posix_test.cpp LIBS qb_zip)
endif()
