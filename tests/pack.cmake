# Tests of quintabel-pack and of the Windows release artefact (included from
# launcher.cmake).
set(QB_TEST_LABEL pack)

qb_add_test(pack_test
  SOURCES pack_test.cpp launcher_test_support_${QB_PLATFORM}.cpp
  LIBS qb_pack qb_zip qb_fs qb_runtime)
if(QUINTABEL_BUNDLE)
  get_filename_component(QB_TEST_LAUNCHER_BUNDLE "${QUINTABEL_BUNDLE}" ABSOLUTE)
else()
  set(QB_TEST_LAUNCHER_BUNDLE ${CMAKE_BINARY_DIR}/bundle/default_bundle.zip)
endif()
# quintabel-pack takes release launchers (stripped, the bundle section last):
# in a Debug build the tests that pack the build's own launcher are left out.
set(QB_RELEASE_LAUNCHER TRUE)
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
  set(QB_RELEASE_LAUNCHER FALSE)
endif()
if(WIN32 AND QB_RELEASE_LAUNCHER)
  target_compile_definitions(pack_test PRIVATE
    QB_TEST_LAUNCHER="$<TARGET_FILE:quintabel-launcher>"
    QB_TEST_LAUNCHER_BUNDLE="${QB_TEST_LAUNCHER_BUNDLE}"
    QB_TEST_SELF="$<TARGET_FILE:pack_test>")
  add_dependencies(pack_test quintabel-launcher)
endif()

if(CMAKE_CROSSCOMPILING AND QB_RELEASE_LAUNCHER)
  set(QB_SYSTEM_PYTHON /usr/bin/python3)
  set(QB_WINE ${CMAKE_SOURCE_DIR}/cmake/wine-run ${QB_WINEPREFIX})
  # The launcher read back from its PE file: resources, imports, stripping.
  add_test(NAME packaging_pe
           COMMAND ${QB_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/packaging_pe_test.py
                   $<TARGET_FILE:quintabel-launcher> ${CMAKE_CURRENT_SOURCE_DIR}/launcher_imports.txt
                   ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
                   "${QUINTABEL_PRODUCT_NAME}" "${QUINTABEL_VERSION}" "${QUINTABEL_COMPANY}"
                   "${QUINTABEL_COPYRIGHT}" "${QUINTABEL_DESCRIPTION}")
  # Signing, and signing again after packing.
  add_test(NAME packaging_sign
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/packaging_sign_test.sh ${CMAKE_COMMAND} ${CMAKE_SOURCE_DIR}
                   $<TARGET_FILE:quintabel-launcher> ${QB_PROBE_BUNDLE} ${QB_PACK_HOST_COMMAND})
  # quintabel-pack.exe itself, under Wine.
  add_test(NAME packaging_pack
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/packaging_pack_test.sh ${QB_SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}
                   $<TARGET_FILE:quintabel-launcher> ${QB_PROBE_BUNDLE} ${QB_WINE} $<TARGET_FILE:quintabel-pack>)
  set_tests_properties(packaging_pack PROPERTIES FIXTURES_REQUIRED wine_prefix)

  # The launcher end-to-end tests once more, against launchers made by
  # quintabel-pack from the launcher with the default bundle.
  set(QB_PACKED_PROBE ${CMAKE_CURRENT_BINARY_DIR}/packed-probe.exe)
  set(QB_PACKED_PROBE_BROKEN ${CMAKE_CURRENT_BINARY_DIR}/packed-probe-broken.exe)
  add_custom_command(
    OUTPUT ${QB_PACKED_PROBE} ${QB_PACKED_PROBE_BROKEN}
    COMMAND ${QB_PACK_HOST_COMMAND} --launcher $<TARGET_FILE:quintabel-launcher>
            --bundle ${QB_PROBE_BUNDLE} --output ${QB_PACKED_PROBE}
    COMMAND ${QB_PACK_HOST_COMMAND} --launcher $<TARGET_FILE:quintabel-launcher>
            --bundle ${QB_PROBE_BROKEN_BUNDLE} --output ${QB_PACKED_PROBE_BROKEN}
    DEPENDS quintabel-launcher ${QB_PACK_HOST_DEPENDS} ${QB_PROBE_BUNDLE} ${QB_PROBE_BROKEN_BUNDLE}
    COMMENT "Packing the probe bundles into the launcher with quintabel-pack"
    VERBATIM)
  add_custom_target(quintabel-packed-probes DEPENDS ${QB_PACKED_PROBE} ${QB_PACKED_PROBE_BROKEN})
  add_dependencies(quintabel-packed-probes quintabel-probe-bundles ${QB_PACK_HOST_TARGET})
  qb_add_test(launcher_e2e_packed_test
    SOURCES launcher_e2e_test.cpp launcher_test_support_${QB_PLATFORM}.cpp
    LIBS qb_launcher_core qb_zip qb_fs qb_runtime ZLIB::ZLIB)
  target_compile_definitions(launcher_e2e_packed_test PRIVATE
    QB_PROBE_LAUNCHER="${QB_PACKED_PROBE}"
    QB_PROBE_LAUNCHER_BROKEN="${QB_PACKED_PROBE_BROKEN}"
    QB_PROBE_APP="$<TARGET_FILE:quintabel-probe-app>"
    QB_PROBE_BUNDLE="${QB_PROBE_BUNDLE}")
  add_dependencies(launcher_e2e_packed_test quintabel-packed-probes)
elseif(NOT CMAKE_CROSSCOMPILING)
  # A bundle the launcher could not install stops the build before it is
  # embedded, with a message naming the problem.
  add_test(NAME packaging_bundle_validation
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/packaging_configure_test.sh
                   ${CMAKE_COMMAND} ${CMAKE_SOURCE_DIR} ${QB_PYTHON} $<TARGET_FILE:quintabel-pack>)
endif()

if(CMAKE_CROSSCOMPILING AND NOT QB_HOST_TOOLS_ONLY)
  # The download made by cpack -G ZIP.
  add_test(NAME packaging_download
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/packaging_download_test.sh ${CMAKE_CPACK_COMMAND}
                   ${CMAKE_BINARY_DIR} ${QUINTABEL_VERSION} $<TARGET_FILE:quintabel-launcher>
                   $<TARGET_FILE:quintabel-pack> /usr/bin/python3)
endif()
