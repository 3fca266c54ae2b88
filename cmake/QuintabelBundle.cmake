# Embedding a bundle archive into an executable, and the launcher executables.
#
#   qb_check_bundle(<target> <archive> [DEPENDS <targets>...])
#       A target that checks <archive> with the build machine's
#       quintabel-pack --check: the archive is extracted with the launcher's
#       own reader and must hold "quintabel.exe", "swipl.home" and an
#       extractable "dereroz.zip" at its root, no entry stored as a link,
#       and for a POSIX build a "quintabel.exe" stored executable. A bundle
#       that fails stops the build with a message naming the first problem
#       (a runtime marker that misses the work folder only gets a warning);
#       a changed archive is checked again.
#   qb_embed_bundle(<target> <archive> [DEPENDS <targets>...])
#       Adds <archive> to <target> as constant data behind the bundle header
#       (bundle_layout/bundle_header.h); on Windows in the section ".qbundle",
#       placed last by cmake/qbundle-last.ld. The object depends on the
#       archive, so a changed archive is embedded anew.
#   qb_add_launcher(<target> <archive> [DEPENDS <targets>...])
#       A launcher executable (launcher/main.cpp and the checked, embedded
#       archive), for the windowed subsystem on Windows, with its resources,
#       stripped in release builds, written to the top build folder. DEPENDS
#       names targets that produce the archive.

include_guard(GLOBAL)


function(qb_check_bundle target archive)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  get_filename_component(path "${archive}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.checked)
  # The launcher's platform, not the build machine's.
  if(WIN32)
    set(platform windows)
  else()
    set(platform posix)
  endif()
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${QB_PACK_HOST_COMMAND} --check ${path} --target ${platform}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${path} ${QB_PACK_HOST_DEPENDS}
    COMMENT "Checking the bundle ${path}"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${stamp})
  if(ARG_DEPENDS OR QB_PACK_HOST_TARGET)
    add_dependencies(${target} ${ARG_DEPENDS} ${QB_PACK_HOST_TARGET})
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
  if(WIN32)
    target_link_options(${target} PRIVATE -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/qbundle-last.ld)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/qbundle-last.ld)
  endif()
  if(ARG_DEPENDS)
    add_dependencies(${target} ${ARG_DEPENDS})
  endif()
endfunction()

function(qb_add_launcher target archive)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  add_executable(${target} WIN32 ${CMAKE_SOURCE_DIR}/launcher/main.cpp)
  qb_program(${target})
  qb_check_bundle(${target}-bundle-check ${archive} DEPENDS ${ARG_DEPENDS})
  qb_embed_bundle(${target} ${archive} DEPENDS ${target}-bundle-check)
  target_link_libraries(${target} PRIVATE
    qb_launcher_core qb_resources qb_zip qb_process qb_fs qb_runtime)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  qb_single_thread_runtime(${target})
  qb_add_windows_resources(${target} FILE_NAME quintabel-launcher.exe DESCRIPTION "${QUINTABEL_DESCRIPTION}")
  qb_release_artefact(${target})
endfunction()
