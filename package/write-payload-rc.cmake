# Writes a resource script that carries a setup package as BINARY resources 197..211.
#
#   cmake -DDIR=<package dir> -DOUT=<script.rc> [-DALL=ON] -P write-payload-rc.cmake
#
# With ALL, it lists all fifteen under their own names, whether they exist yet or not: the
# build makes them, and the caller makes the resource compiler depend on them. Without ALL, it
# lists whichever of the fifteen names exist in DIR now (matched without regard to case, as
# Windows would), leaves the others out, and records each listed file's size and SHA-256 in a
# comment, so that the script's text, and with it the compiled resources, change whenever a
# file does. OUT is rewritten only when its text changes.

cmake_policy(VERSION 3.20)

include(${CMAKE_CURRENT_LIST_DIR}/payload-names.cmake)

function(zarpo_write_payload_rc out dir all)
  file(GLOB present LIST_DIRECTORIES false "${dir}/*")
  set(text "// Setup package from ${dir}: generated, do not edit.\n")
  string(APPEND text "// Each file is one BINARY resource, language 1033, holding exactly its bytes.\n")
  string(APPEND text "LANGUAGE 9, 1\n")
  set(id ${ZARPO_PAYLOAD_FIRST_ID})
  foreach(name IN LISTS ZARPO_PAYLOAD_NAMES)
    set(path "")
    if(all)
      set(path "${dir}/${name}")
    endif()
    foreach(candidate IN LISTS present)
      get_filename_component(base "${candidate}" NAME)
      string(TOLOWER "${base}" lower)
      if(lower STREQUAL name)
        set(path "${candidate}")
        break()
      endif()
    endforeach()
    if(NOT path STREQUAL "")
      file(TO_CMAKE_PATH "${path}" path)
      if(NOT all)
        file(SIZE "${path}" size)
        file(SHA256 "${path}" hash)
        string(APPEND text "// ${name}: ${size} bytes, sha256 ${hash}\n")
      endif()
      string(APPEND text "${id} BINARY \"${path}\"\n")
    endif()
    math(EXPR id "${id} + 1")
  endforeach()
  set(old "")
  if(EXISTS "${out}")
    file(READ "${out}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${out}" "${text}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED DIR OR NOT DEFINED OUT)
    message(FATAL_ERROR "usage: cmake -DDIR=<package dir> -DOUT=<script.rc> [-DALL=ON] -P ${CMAKE_CURRENT_LIST_FILE}")
  endif()
  if(NOT DEFINED ALL)
    set(ALL OFF)
  endif()
  zarpo_write_payload_rc("${OUT}" "${DIR}" ${ALL})
endif()
