# The setup launch and its completion waits, as a test program of their own.
zarpo_unit_test(launch_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/test_launch.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_launch_driver.cpp)
