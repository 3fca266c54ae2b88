# What makes an executable of the project fit to hand out.
#
#   qb_single_thread_runtime(<target>...)
#       Windows: compiles and links the targets with the win32-thread-model
#       compiler (cmake/win32-thread-model), so that no POSIX thread library
#       is linked in. The tests keep the posix model (GoogleTest needs it).
#   qb_add_windows_resources(<target> FILE_NAME <name> DESCRIPTION <text>)
#       Windows: the manifest, the icon and the version information
#       (launcher/launcher.rc.in), from the QUINTABEL_* cache variables below.
#   qb_release_artefact(<target>)
#       In every build type but Debug: strips the executable after linking and
#       keeps its debug information in <file>.debug beside it, linked by
#       .gnu_debuglink. Then signs it when QUINTABEL_SIGN_* say how.

include_guard(GLOBAL)

set(QUINTABEL_PRODUCT_NAME "Quintabel" CACHE STRING "ProductName of the Windows executables")
set(QUINTABEL_VERSION "${PROJECT_VERSION}" CACHE STRING
    "Version of the Windows executables: one to four numbers separated by dots")
set(QUINTABEL_COMPANY "Quintabel project" CACHE STRING "CompanyName of the Windows executables")
set(QUINTABEL_COPYRIGHT "Copyright (C) the Quintabel authors" CACHE STRING
    "LegalCopyright of the Windows executables")
set(QUINTABEL_DESCRIPTION "Quintabel" CACHE STRING
    "FileDescription of the launcher (shown by Task Manager and in dialogs)")
set(QUINTABEL_ICON "" CACHE FILEPATH "Icon (.ico) of the launcher (empty: the project's default icon)")

set(QUINTABEL_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (PEM or DER; with QUINTABEL_SIGN_KEY)")
set(QUINTABEL_SIGN_KEY "" CACHE FILEPATH "Private key of QUINTABEL_SIGN_CERT")
set(QUINTABEL_SIGN_PKCS12 "" CACHE FILEPATH "Code-signing certificate and key as one PKCS#12 file")
set(QUINTABEL_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File holding the password of QUINTABEL_SIGN_PKCS12 or of QUINTABEL_SIGN_KEY")
set(QUINTABEL_SIGN_TIMESTAMP_URL "" CACHE STRING "Time-stamping server for signatures (empty: none)")

# The version as four numbers.
if(NOT QUINTABEL_VERSION MATCHES "^([0-9]+)(\\.([0-9]+))?(\\.([0-9]+))?(\\.([0-9]+))?$")
  message(FATAL_ERROR "QUINTABEL_VERSION \"${QUINTABEL_VERSION}\" is not one to four numbers separated by dots")
endif()
set(QB_VERSION_PARTS)
foreach(group 1 3 5 7)
  set(part "${CMAKE_MATCH_${group}}")
  if(part STREQUAL "")
    set(part 0)
  endif()
  if(part GREATER 65535)
    message(FATAL_ERROR "QUINTABEL_VERSION \"${QUINTABEL_VERSION}\": each number must be at most 65535")
  endif()
  list(APPEND QB_VERSION_PARTS ${part})
endforeach()
string(REPLACE ";" "," QB_VERSION_COMMAS "${QB_VERSION_PARTS}")
string(REPLACE ";" "." QB_VERSION_DOTTED "${QB_VERSION_PARTS}")

function(qb_single_thread_runtime)
  if(NOT WIN32)
    return()
  endif()
  foreach(target ${ARGN})
    set_target_properties(${target} PROPERTIES
      C_COMPILER_LAUNCHER ${CMAKE_SOURCE_DIR}/cmake/win32-thread-model
      CXX_COMPILER_LAUNCHER ${CMAKE_SOURCE_DIR}/cmake/win32-thread-model
      C_LINKER_LAUNCHER ${CMAKE_SOURCE_DIR}/cmake/win32-thread-model
      CXX_LINKER_LAUNCHER ${CMAKE_SOURCE_DIR}/cmake/win32-thread-model)
  endforeach()
endfunction()

# Text as a string of a resource script: backslashes and double quotes escaped.
function(qb_rc_text out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Text inside an XML element.
function(qb_xml_text out text)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(qb_add_windows_resources target)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(ARG "" "FILE_NAME;DESCRIPTION" "" ${ARGN})
  if(QUINTABEL_ICON)
    get_filename_component(icon "${QUINTABEL_ICON}" ABSOLUTE)
    if(NOT EXISTS "${icon}")
      message(FATAL_ERROR "QUINTABEL_ICON \"${QUINTABEL_ICON}\" does not exist")
    endif()
  else()
    set(icon ${CMAKE_BINARY_DIR}/quintabel.ico)
    if(NOT TARGET quintabel-default-icon)
      add_custom_command(
        OUTPUT ${icon}
        COMMAND ${QB_PYTHON} ${CMAKE_SOURCE_DIR}/launcher/make_icon.py ${icon}
        DEPENDS ${CMAKE_SOURCE_DIR}/launcher/make_icon.py
        COMMENT "Drawing the default icon"
        VERBATIM)
      add_custom_target(quintabel-default-icon DEPENDS ${icon})
    endif()
    add_dependencies(${target} quintabel-default-icon)
  endif()

  # The assembly identity: letters, digits and dots only, whatever the product.
  string(REGEX REPLACE "[^A-Za-z0-9.]" "" QB_MANIFEST_NAME "Quintabel.${target}")
  qb_xml_text(QB_MANIFEST_DESCRIPTION "${ARG_DESCRIPTION}")
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
  configure_file(${CMAKE_SOURCE_DIR}/launcher/launcher.manifest.in ${dir}/${target}.manifest @ONLY)

  set(QB_RC_MANIFEST ${dir}/${target}.manifest)
  set(QB_RC_ICON ${icon})
  qb_rc_text(QB_RC_COMPANY "${QUINTABEL_COMPANY}")
  qb_rc_text(QB_RC_DESCRIPTION "${ARG_DESCRIPTION}")
  qb_rc_text(QB_RC_VERSION "${QUINTABEL_VERSION}")
  qb_rc_text(QB_RC_COPYRIGHT "${QUINTABEL_COPYRIGHT}")
  qb_rc_text(QB_RC_PRODUCT "${QUINTABEL_PRODUCT_NAME}")
  qb_rc_text(QB_RC_FILE_NAME "${ARG_FILE_NAME}")
  get_filename_component(QB_RC_INTERNAL_NAME "${ARG_FILE_NAME}" NAME_WE)
  set(rc ${dir}/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/launcher/launcher.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${icon};${dir}/${target}.manifest")
  target_sources(${target} PRIVATE ${rc})
endfunction()

function(qb_release_artefact target)
  if(CMAKE_BUILD_TYPE STREQUAL "Debug")
    return()
  endif()
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug ${file}
    COMMENT "Stripping $<TARGET_FILE_NAME:${target}>; debug information in $<TARGET_FILE_NAME:${target}>.debug"
    VERBATIM)
  if(WIN32 AND (QUINTABEL_SIGN_PKCS12 OR QUINTABEL_SIGN_CERT))
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DFILE=${file}
              -DCERT=${QUINTABEL_SIGN_CERT} -DKEY=${QUINTABEL_SIGN_KEY}
              -DPKCS12=${QUINTABEL_SIGN_PKCS12} -DPASSWORD_FILE=${QUINTABEL_SIGN_PASSWORD_FILE}
              -DTIMESTAMP_URL=${QUINTABEL_SIGN_TIMESTAMP_URL}
              -DPRODUCT=${QUINTABEL_PRODUCT_NAME}
              -P ${CMAKE_SOURCE_DIR}/cmake/QuintabelSign.cmake
      COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
      VERBATIM)
  endif()
endfunction()
