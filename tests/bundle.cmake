# Tests of the bundle store, the embedded bundle and the packaging of the
# launcher (included from launcher.cmake).
set(QB_TEST_LABEL bundle)

qb_add_test(resource_list_test
  SOURCES resource_list_test.cpp
  LIBS qb_resources qb_fs qb_runtime)

# A small archive made at build time, embedded in the test executable the way
# a launcher embeds its bundle.
set(QB_TEST_BUNDLE ${CMAKE_CURRENT_BINARY_DIR}/embedded_test_bundle.zip)
add_custom_command(
  OUTPUT ${QB_TEST_BUNDLE}
  COMMAND ${QB_PYTHON} ${CMAKE_SOURCE_DIR}/bundle/make_bundle.py dictionary
          ${QB_TEST_BUNDLE} ${CMAKE_SOURCE_DIR}/bundle/sample/dereroz
  DEPENDS ${CMAKE_SOURCE_DIR}/bundle/make_bundle.py
          ${CMAKE_SOURCE_DIR}/bundle/sample/dereroz/base.txt
          ${CMAKE_SOURCE_DIR}/bundle/sample/dereroz/couleurs.txt
  COMMENT "Making the archive embedded by bundle_module_test"
  VERBATIM)
add_custom_target(embedded_test_bundle DEPENDS ${QB_TEST_BUNDLE})
qb_add_test(bundle_module_test
  SOURCES bundle_module_test.cpp
  LIBS qb_resources qb_fs qb_runtime)
qb_embed_bundle(bundle_module_test ${QB_TEST_BUNDLE} DEPENDS embedded_test_bundle)
target_compile_definitions(bundle_module_test PRIVATE QB_TEST_BUNDLE="${QB_TEST_BUNDLE}")

# The launcher with the default bundle, run twice on the sample data.
if(NOT QUINTABEL_BUNDLE)
  set(QB_DEMO_RUN sh ${CMAKE_CURRENT_SOURCE_DIR}/demo_run_test.sh
      $<TARGET_FILE:quintabel-launcher> ${CMAKE_SOURCE_DIR} ${QB_PYTHON})
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME demo_run COMMAND ${QB_DEMO_RUN} ${CMAKE_SOURCE_DIR}/cmake/wine-run ${QB_WINEPREFIX})
    set_tests_properties(demo_run PROPERTIES FIXTURES_REQUIRED wine_prefix)
  else()
    add_test(NAME demo_run COMMAND ${QB_DEMO_RUN})
  endif()
endif()

# The Prolog bundle on the real runtime, run as a user would; skipped, and
# saying why, where the runtime or the tools that make the bundle are missing.
if(NOT WIN32)
  if(TARGET quintabel-launcher-prolog)
    add_test(NAME prolog_run COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/prolog_run_test.sh
                                     $<TARGET_FILE:quintabel-launcher-prolog> ${CMAKE_SOURCE_DIR} ${QB_PYTHON})
  else()
    add_test(NAME prolog_run COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/prolog_run_test.sh --skip
                                     "swipl, patchelf or zip was not found when the build was configured: install them (scripts/install-deps.sh) and configure again")
  endif()
  set_tests_properties(prolog_run PROPERTIES SKIP_RETURN_CODE 77)
endif()

# The demo application's line format and its Prolog output.
qb_add_test(demo_dictionary_test
  SOURCES demo_dictionary_test.cpp ${CMAKE_SOURCE_DIR}/bundle/demo_app/dictionary.cpp)
