# The download: in the Windows build, `cpack -G ZIP` writes
# quintabel-launcher-<version>-win64.zip with the launcher (demo bundle),
# quintabel-pack.exe, the README and the licence texts of what the
# executables link in, taken from Debian's copyright files at build time.

if(NOT WIN32 OR QB_HOST_TOOLS_ONLY)
  return()
endif()

set(QB_LICENCES
  "zlib|/usr/share/doc/libz-mingw-w64-dev/copyright"
  "gcc-runtime|/usr/share/doc/gcc-mingw-w64-x86-64-win32-runtime/copyright"
  "mingw-w64-runtime|/usr/share/doc/mingw-w64-x86-64-dev/copyright")
set(QB_LICENCE_FILES)
foreach(item ${QB_LICENCES})
  string(REPLACE "|" ";" item "${item}")
  list(GET item 0 name)
  list(GET item 1 source)
  set(target_file ${CMAKE_BINARY_DIR}/licences/${name}.txt)
  add_custom_command(
    OUTPUT ${target_file}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${target_file}
    DEPENDS ${source}
    COMMENT "Taking the licence of ${name} from ${source}"
    VERBATIM)
  list(APPEND QB_LICENCE_FILES ${target_file})
endforeach()
add_custom_target(quintabel-licences ALL DEPENDS ${QB_LICENCE_FILES})

install(PROGRAMS $<TARGET_FILE:quintabel-launcher> $<TARGET_FILE:quintabel-pack> DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)
install(FILES ${QB_LICENCE_FILES} DESTINATION licences)

set(CPACK_PACKAGE_NAME quintabel-launcher)
set(CPACK_PACKAGE_VERSION ${QUINTABEL_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_GENERATOR ZIP)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_FILE_NAME quintabel-launcher-${QUINTABEL_VERSION}-win64)
include(CPack)
