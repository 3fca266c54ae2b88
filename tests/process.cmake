# Test executables for process/.
set(QB_TEST_LABEL process)

# The child program the process tests start. Under Wine its path is given
# on drive Z:, which maps the Unix root.
add_executable(process_child process_child.cpp)
qb_program(process_child SOURCE_ROOT)
if(CMAKE_CROSSCOMPILING)
  set(QB_CHILD_DRIVE "Z:")
else()
  set(QB_CHILD_DRIVE "")
endif()

qb_add_test(process_test SOURCES process_test.cpp LIBS qb_process)
target_compile_definitions(process_test PRIVATE
  QB_PROCESS_CHILD="${QB_CHILD_DRIVE}$<TARGET_FILE:process_child>")
add_dependencies(process_test process_child)
