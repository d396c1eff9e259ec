# The committed development package data (package/dev/) is what its generator writes:
#   cmake -DPYTHON=<python3> -DGENERATOR=<make-dev-package.py> -DDEV=<package/dev> -DWORK=<dir>
#         -P regenerate.cmake
# A hand edit of a file in package/dev/, or a generator change not run, fails here.

cmake_policy(VERSION 3.20)

file(REMOVE_RECURSE "${WORK}")
execute_process(COMMAND ${PYTHON} ${GENERATOR} --out ${WORK}
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE err)
if(result)
  message(FATAL_ERROR "expected the generator to run, it failed (${result}): ${err}")
endif()

file(GLOB fresh RELATIVE ${WORK} "${WORK}/*")
file(GLOB kept RELATIVE ${DEV} "${DEV}/*")
list(SORT fresh)
list(SORT kept)
set(failures "")
if(NOT fresh STREQUAL kept)
  list(APPEND failures "the same files in ${DEV} as the generator writes: ${fresh}; found ${kept}")
endif()
foreach(name IN LISTS fresh)
  if(EXISTS "${DEV}/${name}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${WORK}/${name}" "${DEV}/${name}"
                    RESULT_VARIABLE differ)
    if(differ)
      list(APPEND failures "${DEV}/${name} to equal the generator's output (run package/tools/make-dev-package.py)")
    endif()
  endif()
endforeach()
if(failures)
  list(JOIN failures "\n  expected " text)
  message(FATAL_ERROR "development package data:\n  expected ${text}")
endif()
