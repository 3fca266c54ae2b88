# Test executables for runtime/.
set(QB_TEST_LABEL runtime)

qb_add_test(arguments_test SOURCES arguments_test.cpp LIBS qb_runtime)
qb_add_test(failure_report_test SOURCES failure_report_test.cpp LIBS qb_runtime)
qb_add_test(stack_capture_test SOURCES stack_capture_test.cpp LIBS qb_runtime)
if(NOT WIN32)
  target_link_libraries(stack_capture_test PRIVATE ${CMAKE_DL_LIBS})
endif()
qb_add_test(message_box_channel_test SOURCES message_box_channel_test.cpp LIBS qb_runtime)

# The program the frame tests start: it runs through RunProgram and raises,
# faults or writes long reports on request. Under Wine its path is given on
# drive Z:, which maps the Unix root.
add_executable(frame_child frame_child.cpp)
target_link_libraries(frame_child PRIVATE qb_runtime)
qb_program(frame_child SOURCE_ROOT)
if(CMAKE_CROSSCOMPILING)
  set(QB_FRAME_CHILD_DRIVE "Z:")
else()
  set(QB_FRAME_CHILD_DRIVE "")
endif()
qb_add_test(frame_test
  SOURCES frame_test.cpp frame_test_support_${QB_PLATFORM}.cpp
  LIBS qb_runtime)
target_compile_definitions(frame_test PRIVATE
  QB_FRAME_CHILD="${QB_FRAME_CHILD_DRIVE}$<TARGET_FILE:frame_child>")
add_dependencies(frame_test frame_child)

if(CMAKE_CROSSCOMPILING)
  # The real MessageBoxA call, seen from outside: Wine's relay trace of a
  # program that raises shows the call with its text, caption and type.
  add_test(NAME message_box_relay_test
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/message_box_relay_test.sh
                   ${CMAKE_SOURCE_DIR}/cmake/wine-run ${QB_WINEPREFIX} $<TARGET_FILE:frame_child>)
  set_tests_properties(message_box_relay_test PROPERTIES FIXTURES_REQUIRED wine_prefix)
endif()
