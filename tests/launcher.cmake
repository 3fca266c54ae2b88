# Test executables for launcher/.
set(QB_TEST_LABEL launcher)
include(${CMAKE_CURRENT_LIST_DIR}/bundle.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/launcher_run.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/pack.cmake)
