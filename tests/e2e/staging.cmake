# End-to-end tests of the staging directory, the cleanup sweep and the extraction failures.
# Included by tests/e2e/CMakeLists.txt, which provides zarpo_e2e_test() and the driver target.

# zhold.exe FILE MS [MARKER]: keeps FILE open without sharing, so the installer cannot write it.
add_executable(zhold holder/zhold.cpp)
target_link_options(zhold PRIVATE -mconsole -s)

zarpo_e2e_test(e2e_staging test_staging.sh $<TARGET_FILE:zarpo_install>)

# The extraction faults need the holder as well: its path comes after the driver's.
zarpo_e2e_test(e2e_extraction_faults test_extraction_faults.sh $<TARGET_FILE:zarpo_install>
               $<TARGET_FILE:zhold>)
