# Tests of the launch sequence (included from launcher.cmake): the work-folder
# services, and whole launcher runs with a probe application in the bundle.
set(QB_TEST_LABEL launcher)
if(TARGET qb_launcher_core)
  qb_add_test(work_folder_test
    SOURCES work_folder_test.cpp
    LIBS qb_launcher_core qb_fs qb_runtime)

  # The probe application records what it sees and obeys a control file; it
  # travels in the probe bundles as "quintabel.exe".
  add_executable(quintabel-probe-app
    probe_app/probe_app.cpp
    probe_app/probe_platform_${QB_PLATFORM}.cpp)
  qb_program(quintabel-probe-app SOURCE_ROOT)
  if(WIN32)
    target_link_libraries(quintabel-probe-app PRIVATE shell32)
  endif()

  set(QB_PROBE_BUNDLE ${CMAKE_CURRENT_BINARY_DIR}/probe_bundle.zip)
  set(QB_PROBE_BROKEN_BUNDLE ${CMAKE_CURRENT_BINARY_DIR}/probe_bundle_broken.zip)
  add_custom_command(
    OUTPUT ${QB_PROBE_BUNDLE} ${QB_PROBE_BROKEN_BUNDLE}
    COMMAND ${QB_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/probe_app/make_probe_bundle.py
            ${QB_PROBE_BUNDLE} $<TARGET_FILE:quintabel-probe-app>
    COMMAND ${QB_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/probe_app/make_probe_bundle.py
            ${QB_PROBE_BROKEN_BUNDLE} $<TARGET_FILE:quintabel-probe-app> --broken
    DEPENDS quintabel-probe-app ${CMAKE_CURRENT_SOURCE_DIR}/probe_app/make_probe_bundle.py
    COMMENT "Making the probe bundles"
    VERBATIM)
  add_custom_target(quintabel-probe-bundles DEPENDS ${QB_PROBE_BUNDLE} ${QB_PROBE_BROKEN_BUNDLE})
  # A launcher whose application runs, and one whose "quintabel.exe" is no
  # program at all.
  qb_add_launcher(quintabel-launcher-probe ${QB_PROBE_BUNDLE} DEPENDS quintabel-probe-bundles)
  qb_add_launcher(quintabel-launcher-probe-broken ${QB_PROBE_BROKEN_BUNDLE} DEPENDS quintabel-probe-bundles)

  # The end-to-end suites: ordinary runs, faults, and a hostile temporary
  # folder.
  foreach(suite launcher_e2e_test launcher_fault_test launcher_temp_folder_test)
    qb_add_test(${suite}
      SOURCES ${suite}.cpp launcher_test_support_${QB_PLATFORM}.cpp
      LIBS qb_launcher_core qb_zip qb_fs qb_runtime ZLIB::ZLIB)
    target_compile_definitions(${suite} PRIVATE
      QB_PROBE_LAUNCHER="$<TARGET_FILE:quintabel-launcher-probe>"
      QB_PROBE_LAUNCHER_BROKEN="$<TARGET_FILE:quintabel-launcher-probe-broken>"
      QB_PROBE_APP="$<TARGET_FILE:quintabel-probe-app>"
      QB_PROBE_BUNDLE="${QB_PROBE_BUNDLE}")
    add_dependencies(${suite} quintabel-launcher-probe quintabel-launcher-probe-broken)
  endforeach()
endif()

if(NOT CMAKE_CROSSCOMPILING AND TARGET quintabel-launcher-probe)
  # The fault scripts in short: launchers killed at random moments, and
  # twenty launchers at once (tests/fault/*.py run longer by hand).
  add_test(NAME fault_kill_rounds
           COMMAND ${QB_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/fault/kill_rounds.py
                   $<TARGET_FILE:quintabel-launcher-probe> --rounds 12)
  add_test(NAME fault_concurrent
           COMMAND ${QB_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/fault/concurrent.py
                   $<TARGET_FILE:quintabel-launcher-probe> --count 20)
  set_tests_properties(fault_kill_rounds fault_concurrent PROPERTIES TIMEOUT 300)
endif()

if(CMAKE_CROSSCOMPILING AND TARGET quintabel-launcher-probe-broken)
  # Runs a program with changed environment variables inside Wine.
  add_executable(with_env with_env_win32.cpp)
  qb_program(with_env)
  target_link_libraries(with_env PRIVATE shell32)
  # The failure report of a launcher whose application cannot start, seen
  # from outside through Wine's relay trace of MessageBoxW: with Wine's own
  # temporary folder, with one named outside any ANSI code page, and with a
  # work folder of another Unix user planted there.
  add_test(NAME launcher_relay_test
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/launcher_relay_test.sh
                   ${CMAKE_SOURCE_DIR}/cmake/wine-run ${QB_WINEPREFIX}
                   $<TARGET_FILE:quintabel-launcher-probe-broken> $<TARGET_FILE:with_env>
                   $<TARGET_FILE:quintabel-probe-app>)
  set_tests_properties(launcher_relay_test PROPERTIES FIXTURES_REQUIRED wine_prefix)
endif()
