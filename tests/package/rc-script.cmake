# The resource script writer (package/write-payload-rc.cmake) on a variant directory:
#   cmake -DWORK=<scratch dir> -DWRITER=<write-payload-rc.cmake> -P rc-script.cmake
# It must list exactly the payload names present (any case) with their ids, leave the script
# untouched while nothing changes, and change it when a file's contents change.

cmake_policy(VERSION 3.20)

set(dir "${WORK}/variant")
set(rc "${WORK}/variant.rc")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${dir}")
file(WRITE "${dir}/_inst32i.ex_" "archive")
file(WRITE "${dir}/SETUP.EXE" "MZ")
file(WRITE "${dir}/data.tag" "")
file(WRITE "${dir}/notes.txt" "not a payload name")

set(failures "")
macro(fail what)
  string(REPLACE ";" " | " _what "${what}")
  list(APPEND failures "${_what}")
endmacro()

function(write mode)
  execute_process(COMMAND ${CMAKE_COMMAND} -DDIR=${dir} -DOUT=${rc} ${mode} -P ${WRITER}
                  RESULT_VARIABLE result)
  if(result)
    message(FATAL_ERROR "expected the writer to succeed, it returned ${result}")
  endif()
endfunction()

function(resource_lines out)
  file(STRINGS "${rc}" lines REGEX "^[0-9]+ BINARY ")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

write("")
resource_lines(lines)
set(expected "197 BINARY \"${dir}/_inst32i.ex_\"" "202 BINARY \"${dir}/data.tag\""
             "208 BINARY \"${dir}/SETUP.EXE\"")
if(NOT lines STREQUAL expected)
  fail("resources 197, 202 and 208 only, under the names on disk; got ${lines}")
endif()
file(STRINGS "${rc}" language REGEX "^LANGUAGE 9, 1$")
if(language STREQUAL "")
  fail("the line LANGUAGE 9, 1")
endif()

# Unchanged files: the script is not rewritten (its time stamp stays where we put it).
execute_process(COMMAND touch -d @1000000000 ${rc})
write("")
file(TIMESTAMP "${rc}" stamp "%s" UTC)
if(NOT stamp STREQUAL "1000000000")
  fail("the script left alone when nothing changed (time stamp ${stamp})")
endif()

# A changed file (same name, same size): the script's text changes, so the resources are
# compiled again.
file(READ "${rc}" before)
file(WRITE "${dir}/SETUP.EXE" "ZM")
write("")
file(READ "${rc}" after)
if(before STREQUAL after)
  fail("a new script after SETUP.EXE changed")
endif()

# A removed file drops out.
file(REMOVE "${dir}/data.tag")
write("")
resource_lines(lines)
list(LENGTH lines count)
if(NOT count EQUAL 2)
  fail("two resources once data.tag is gone; got ${lines}")
endif()

# ALL: the fifteen names, present or not.
write("-DALL=ON")
resource_lines(lines)
list(LENGTH lines count)
list(GET lines 0 first)
list(GET lines 14 last)
if(NOT count EQUAL 15)
  fail("fifteen resources with ALL; got ${count}")
endif()
if(NOT first STREQUAL "197 BINARY \"${dir}/_inst32i.ex_\"" OR NOT last STREQUAL "211 BINARY \"${dir}/setup.lid\"")
  fail("197 to be _inst32i.ex_ and 211 setup.lid; got ${first} and ${last}")
endif()

if(failures)
  list(JOIN failures "\n  expected " text)
  message(FATAL_ERROR "resource script writer:\n  expected ${text}")
endif()
