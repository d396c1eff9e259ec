# Embedding a packager's package (ZARPO_PACKAGE_DIR), through the real build:
#   cmake -DROOT=<repo> -DWORK=<dir> -DPAYLOAD=<a package> -DTOOLCHAIN=<file> -DGEN=<generator>
#         -DPYTHON=<python3> -P wrap-mode.cmake
#
# Configures the standalone package project (tests/package/standalone) with ZARPO_PACKAGE_DIR
# pointing to a copy of PAYLOAD whose names are partly upper case, and checks that
#   - the probe program then carries exactly that package's files;
#   - a file changed in place is carried in its new form at the next build;
#   - a setup.exe changed into a non-program stops the next build with the check's message;
#   - a file taken away stops the next build, and a fresh configure, with the check's message;
#   - the package directory is never written to.

cmake_policy(VERSION 3.20)

set(pkg "${WORK}/package")
set(build "${WORK}/build")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${pkg}")
file(GLOB files "${PAYLOAD}/*")
file(COPY ${files} DESTINATION "${pkg}")
file(RENAME "${pkg}/setup.exe" "${pkg}/SETUP.EXE")
file(RENAME "${pkg}/_inst32i.ex_" "${pkg}/_INST32I.EX_")

set(failures "")
function(fail what)
  message(STATUS "FAILED: expected ${what}")
  set_property(GLOBAL APPEND PROPERTY wrap_failures "${what}")
endfunction()

function(snapshot out)
  file(GLOB all "${pkg}/*")
  list(SORT all)
  set(text "")
  foreach(f IN LISTS all)
    file(SHA256 "${f}" h)
    file(TIMESTAMP "${f}" t "%s")
    string(APPEND text "${f} ${h} ${t}\n")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(configure dir result_var output_var)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${ROOT}/tests/package/standalone -B ${dir} -G ${GEN}
            -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_BUILD_TYPE=MinSizeRel
            -DZARPO_BUILD_TESTS=OFF -DZARPO_PACKAGE_DIR=${pkg}
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "[ \n]+" " " flat "${out}${err}")
  set(${result_var} ${result} PARENT_SCOPE)
  set(${output_var} "${flat}" PARENT_SCOPE)
endfunction()

function(build result_var output_var)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} --target zarpo_payload_probe
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "[ \n]+" " " flat "${out}${err}")
  set(${result_var} ${result} PARENT_SCOPE)
  set(${output_var} "${flat}" PARENT_SCOPE)
endfunction()

function(resources_match what)
  execute_process(COMMAND ${PYTHON} ${ROOT}/tests/package/check_resources.py
                          ${build}/zarpo_payload_probe.exe ${pkg} --all
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(result)
    fail("${what}: ${out}${err}")
  endif()
endfunction()

# 1. A good package.
configure(${build} result out)
if(result)
  message(FATAL_ERROR "expected the package ${pkg} to be accepted at configure time: ${out}")
endif()
snapshot(before)
build(result out)
if(result)
  message(FATAL_ERROR "expected the probe to build with the package ${pkg}: ${out}")
endif()
resources_match("the probe to carry the wrapped package")
snapshot(after)
if(NOT before STREQUAL after)
  fail("the build to leave ${pkg} unchanged")
endif()

# 2. A file changed in place (for the development package: one byte, so only the contents tell).
file(WRITE "${pkg}/data.tag" "[TagInfo]\r\nCompany=Zarpa Games Studios\r\nApplication=Zarpo OGL\r\n"
     "Version=1.00.000\r\nCategory=Games\r\nMisc=OpenGL Application\r\n")
build(result out)
if(result)
  fail("the probe to build after data.tag changed: ${out}")
else()
  resources_match("the probe to carry the changed data.tag")
endif()

# 3. setup.exe no longer a program: refused at build time, by the build-time check.
file(READ "${pkg}/SETUP.EXE" setup HEX)
file(WRITE "${pkg}/SETUP.EXE" "not a program, though it names _ISDEL.EXE")
build(result out)
if(result EQUAL 0)
  fail("the build to stop when setup.exe is not a program")
elseif(NOT out MATCHES "setup.exe does not start with \"MZ\"")
  fail("the build to say 'setup.exe does not start with \"MZ\"'; it said: ${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E copy "${PAYLOAD}/setup.exe" "${pkg}/SETUP.EXE")

# 4. A file taken away: refused by the next build and by a fresh configure.
file(REMOVE "${pkg}/layout.bin")
build(result out)
if(result EQUAL 0)
  fail("the build to stop when layout.bin is missing")
elseif(NOT out MATCHES "missing file \"layout.bin\"")
  fail("the build to say 'missing file \"layout.bin\"'; it said: ${out}")
endif()
configure(${WORK}/build-fresh result out)
if(result EQUAL 0)
  fail("the configure to stop when layout.bin is missing")
elseif(NOT out MATCHES "missing file \"layout.bin\"")
  fail("the configure to say 'missing file \"layout.bin\"'; it said: ${out}")
endif()

get_property(failures GLOBAL PROPERTY wrap_failures)
if(failures)
  list(JOIN failures "\n  expected " text)
  message(FATAL_ERROR "wrapping a package:\n  expected ${text}")
endif()
