# Embedding a bundle archive into an executable, and the launcher executables.
#
#   qb_check_bundle(<archive>)
#       Fails the configure step with a clear message unless <archive> is a
#       zip archive beginning with 50 4B 03 04 whose root holds
#       "quintabel.exe", "swipl.home" and "dereroz.zip" (bundle/check_bundle.py),
#       and checks it again whenever it changes.
#   qb_embed_bundle(<target> <archive> [DEPENDS <targets>...])
#       Adds <archive> to <target> as constant data between the symbols
#       qb_bundle_data and qb_bundle_end (launcher/embedded_bundle.h). The
#       object depends on the archive, so a changed archive is embedded anew.
#   qb_add_launcher(<target> <archive> [DEPENDS <targets>...])
#       A launcher executable (launcher/main.cpp and the embedded archive),
#       for the windowed subsystem on Windows, written to the top build
#       folder. DEPENDS names targets that produce the archive.

# QB_PYTHON: the build machine's python3, for every directory of the build.
if(NOT QB_PYTHON)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(QB_PYTHON ${Python3_EXECUTABLE} CACHE INTERNAL "python3 of the build machine")
endif()


function(qb_check_bundle archive)
  # A changed archive configures (and so checks) again before it is embedded.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${archive})
  execute_process(
    COMMAND ${QB_PYTHON} ${CMAKE_SOURCE_DIR}/bundle/check_bundle.py ${archive}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    string(STRIP "${output}" output)
    message(FATAL_ERROR "${output}")
  endif()
endfunction()

function(qb_embed_bundle target archive)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  get_filename_component(path "${archive}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  # The path as an assembler string: backslashes and quotes escaped.
  string(REPLACE "\\" "\\\\" QB_BUNDLE_INCBIN_PATH "${path}")
  string(REPLACE "\"" "\\\"" QB_BUNDLE_INCBIN_PATH "${QB_BUNDLE_INCBIN_PATH}")
  set(asm ${CMAKE_CURRENT_BINARY_DIR}/${target}_embedded_bundle.S)
  configure_file(${CMAKE_SOURCE_DIR}/launcher/embedded_bundle_${QB_PLATFORM}.S.in ${asm} @ONLY)
  set_source_files_properties(${asm} PROPERTIES
    LANGUAGE ASM
    OBJECT_DEPENDS "${path}")
  target_sources(${target} PRIVATE ${asm})
  if(ARG_DEPENDS)
    add_dependencies(${target} ${ARG_DEPENDS})
  endif()
endfunction()

function(qb_add_launcher target archive)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  add_executable(${target} WIN32 ${CMAKE_SOURCE_DIR}/launcher/main.cpp)
  qb_embed_bundle(${target} ${archive} DEPENDS ${ARG_DEPENDS})
  target_link_libraries(${target} PRIVATE
    qb_launcher_core qb_resources qb_zip qb_process qb_fs qb_runtime)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()
