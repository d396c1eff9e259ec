# End-to-end tests of the staging directory, the cleanup sweep and the extraction failures.
# Included by tests/e2e/CMakeLists.txt, which provides zarpo_e2e_test() and the driver target.

# zhold.exe FILE MS [MARKER]: keeps FILE open without sharing, so the installer cannot write it.
add_executable(zhold holder/zhold.cpp)
target_link_options(zhold PRIVATE -mconsole -s)

zarpo_e2e_test(e2e_staging test_staging.sh $<TARGET_FILE:zarpo_install>)

# The extraction faults need the holder as well: its path comes after the driver's.
add_test(NAME e2e_extraction_faults
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/test_extraction_faults.sh ${CMAKE_BINARY_DIR}
          $<TARGET_FILE:zarpo_install> $<TARGET_FILE:zdrive> $<TARGET_FILE:zhold>)
set_tests_properties(e2e_extraction_faults PROPERTIES
  FIXTURES_REQUIRED wine_env
  RESOURCE_LOCK wine_desktop
  LABELS e2e
  TIMEOUT 120)
