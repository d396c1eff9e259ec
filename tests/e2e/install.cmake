# End-to-end tests of the install run: the Windows versions and their install modes, the typical
# run with the development package, and a setup program that cannot be started. Included by
# tests/e2e/CMakeLists.txt, which provides zarpo_e2e_test() and the driver target zdrive.

# --- variant executables: the development package with one thing wrong ------------------------
# Each variant directory is the built payload copied afresh at every build, then changed.
set(zarpo_e2e_variants ${CMAKE_CURRENT_BINARY_DIR}/install-variants)
file(MAKE_DIRECTORY ${zarpo_e2e_variants})
set(zarpo_e2e_not_a_program ${zarpo_e2e_variants}/not-a-program.txt)
file(WRITE ${zarpo_e2e_not_a_program} "This setup.exe is a text file, not a program.\r\n")

# A setup.exe that Windows refuses to start (CreateProcess fails with error 193).
set(zarpo_e2e_not_a_program_dir ${zarpo_e2e_variants}/not_a_program)
add_custom_target(zarpo_e2e_install_not_a_program_dir
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${zarpo_e2e_not_a_program_dir}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${ZARPO_PAYLOAD_DIR} ${zarpo_e2e_not_a_program_dir}
  COMMAND ${CMAKE_COMMAND} -E copy ${zarpo_e2e_not_a_program} ${zarpo_e2e_not_a_program_dir}/setup.exe
  VERBATIM)
add_dependencies(zarpo_e2e_install_not_a_program_dir zarpo_payload)
zarpo_payload_rc_for_dir(zarpo_e2e_not_a_program_rc e2e_install_not_a_program
                         ${zarpo_e2e_not_a_program_dir} DEPENDS zarpo_e2e_install_not_a_program_dir)
zarpo_add_installer(zarpo_install_not_a_program "Zarpo OGL Install NotAProgram"
                    ${zarpo_e2e_not_a_program_rc} zarpo_payload_rc_e2e_install_not_a_program)

# No layout.bin: resource 205 is missing, so extraction stops after the eight files before it.
set(zarpo_e2e_no_layout_dir ${zarpo_e2e_variants}/no_layout)
add_custom_target(zarpo_e2e_install_no_layout_dir
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${zarpo_e2e_no_layout_dir}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${ZARPO_PAYLOAD_DIR} ${zarpo_e2e_no_layout_dir}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${zarpo_e2e_no_layout_dir}/layout.bin
  VERBATIM)
add_dependencies(zarpo_e2e_install_no_layout_dir zarpo_payload)
zarpo_payload_rc_for_dir(zarpo_e2e_no_layout_rc e2e_install_no_layout
                         ${zarpo_e2e_no_layout_dir} DEPENDS zarpo_e2e_install_no_layout_dir)
zarpo_add_installer(zarpo_install_no_layout "Zarpo OGL Install NoLayout"
                    ${zarpo_e2e_no_layout_rc} zarpo_payload_rc_e2e_install_no_layout)

# --- the tests ---------------------------------------------------------------------------------
zarpo_e2e_test(e2e_versions test_versions.sh $<TARGET_FILE:zarpo_install>)
zarpo_e2e_test(e2e_launch_failure test_launch_failure.sh
               $<TARGET_FILE:zarpo_install_not_a_program> ${zarpo_e2e_not_a_program_dir}
               $<TARGET_FILE:zarpo_install_no_layout> ${zarpo_e2e_no_layout_dir})
zarpo_e2e_test(e2e_typical_run test_typical_run.sh $<TARGET_FILE:zarpo_install> ${ZARPO_PAYLOAD_DIR})
