# Assembles the development package's engine archive _inst32i.ex_.
#
#   cmake -DHEAD=<head file> -DOUT=<archive> -DMEMBERS="<name>=<file>;..." -P make-archive.cmake
#
# Layout (our own; the real tool's archive is compressed, ours stores its members):
#   the head file: signature 2A AB 79 D8 00 01 00 00 and a plain-text banner ending in CR LF;
#   the member table, plain text:
#       "MEMBERS <count>" CR LF
#       per member: "<name> <offset> <size>" CR LF, offset and size as ten decimal digits,
#                   the offset counted from the start of the archive
#       "END" CR LF
#   the members' bytes, one after the other, in table order.
# The launcher (standin/setup.c) reads this table to find and extract the engine.

cmake_policy(VERSION 3.20)

foreach(var HEAD OUT MEMBERS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make-archive: ${var} not given")
  endif()
endforeach()

function(ten_digits out value)
  string(LENGTH "${value}" len)
  math(EXPR pad "10 - ${len}")
  string(REPEAT "0" ${pad} zeros)
  set(${out} "${zeros}${value}" PARENT_SCOPE)
endfunction()

set(names "")
set(files "")
foreach(member IN LISTS MEMBERS)
  string(FIND "${member}" "=" eq)
  string(SUBSTRING "${member}" 0 ${eq} name)
  math(EXPR from "${eq} + 1")
  string(SUBSTRING "${member}" ${from} -1 path)
  list(APPEND names "${name}")
  list(APPEND files "${path}")
endforeach()
list(LENGTH names count)

# The table's length does not depend on the numbers in it (fixed width), so one pass with
# placeholders gives the offset of the first member.
set(table_len 0)
string(LENGTH "MEMBERS ${count}\r\nEND\r\n" table_len)
foreach(name IN LISTS names)
  string(LENGTH "${name} 0000000000 0000000000\r\n" row)
  math(EXPR table_len "${table_len} + ${row}")
endforeach()
file(SIZE "${HEAD}" head_size)
math(EXPR offset "${head_size} + ${table_len}")

set(table "MEMBERS ${count}\r\n")
foreach(name path IN ZIP_LISTS names files)
  file(SIZE "${path}" size)
  ten_digits(o ${offset})
  ten_digits(s ${size})
  string(APPEND table "${name} ${o} ${s}\r\n")
  math(EXPR offset "${offset} + ${size}")
endforeach()
string(APPEND table "END\r\n")

set(table_file "${OUT}.table")
file(WRITE "${table_file}" "${table}")
execute_process(COMMAND ${CMAKE_COMMAND} -E cat "${HEAD}" "${table_file}" ${files}
                OUTPUT_FILE "${OUT}" RESULT_VARIABLE failed)
file(REMOVE "${table_file}")
if(failed)
  message(FATAL_ERROR "make-archive: could not write ${OUT}")
endif()
file(SIZE "${OUT}" total)
if(NOT total EQUAL offset)
  message(FATAL_ERROR "make-archive: ${OUT} has ${total} bytes, expected ${offset}")
endif()
