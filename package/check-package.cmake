# Checks that a directory holds a setup package the install executable can carry and run.
#
#   cmake -DPACKAGE_DIR=<dir> [-DCOPY_TO=<dir>] -P check-package.cmake
#
# The package must be exactly the fifteen files of the payload table (names compared without
# regard to case, as on Windows), its setup.exe must be a program ("MZ"), and it must contain
# the two process names the install run's engine wait watches for: the engine archive
# _inst32i.ex_ must list its engine as _INS5176._MP and setup.exe must name the deleter
# _ISDEL.EXE. A package built with other names would run, but the wait would not see its
# engine and the run would remove the files while setup still needs them.
#
# Every problem found is reported, one per line, and the script fails. The package's files are
# only read. With COPY_TO, a package that passes is copied there under the payload table's
# lower-case names (a file is rewritten only when its contents differ).
#
# Included from CMake code, the script only defines zarpo_check_package().

cmake_policy(VERSION 3.20)

include(${CMAKE_CURRENT_LIST_DIR}/payload-names.cmake)

# zarpo_check_package(<dir> <problems_var> <files_var>)
#   <problems_var>: list of problem descriptions, empty when the package is fine.
#   <files_var>:    for each payload name in table order, the path of the file found for it
#                   (empty entries where none was found).
function(zarpo_check_package dir problems_var files_var)
  set(problems "")
  set(files "")
  if(NOT IS_DIRECTORY "${dir}")
    set(${problems_var} "\"${dir}\" is not a directory" PARENT_SCOPE)
    set(${files_var} "" PARENT_SCOPE)
    return()
  endif()

  file(GLOB entries LIST_DIRECTORIES true "${dir}/*")
  list(SORT entries)
  set(claimed "")
  foreach(name IN LISTS ZARPO_PAYLOAD_NAMES)
    set(found "")
    foreach(entry IN LISTS entries)
      get_filename_component(base "${entry}" NAME)
      string(TOLOWER "${base}" lower)
      if(lower STREQUAL name)
        list(APPEND found "${entry}")
      endif()
    endforeach()
    list(LENGTH found count)
    if(count EQUAL 0)
      list(APPEND problems "missing file \"${name}\"")
      list(APPEND files "-")
    elseif(count GREATER 1)
      set(names "")
      foreach(entry IN LISTS found)
        get_filename_component(base "${entry}" NAME)
        list(APPEND names "\"${base}\"")
      endforeach()
      list(JOIN names ", " names)
      list(APPEND problems "${names} differ only in case: Windows keeps one file of the name \"${name}\"")
      list(APPEND claimed ${found})
      list(APPEND files "-")
    else()
      list(APPEND claimed "${found}")
      if(IS_DIRECTORY "${found}")
        get_filename_component(base "${found}" NAME)
        list(APPEND problems "\"${base}\" is a directory, not a file")
        list(APPEND files "-")
      else()
        list(APPEND files "${found}")
      endif()
    endif()
  endforeach()

  foreach(entry IN LISTS entries)
    list(FIND claimed "${entry}" at)
    if(at EQUAL -1)
      get_filename_component(base "${entry}" NAME)
      if(IS_DIRECTORY "${entry}")
        list(APPEND problems "extra directory \"${base}\": it would not be embedded, and setup would not find it")
      else()
        list(APPEND problems "extra file \"${base}\": it would not be embedded, and setup would not find it")
      endif()
    endif()
  endforeach()

  list(FIND ZARPO_PAYLOAD_NAMES setup.exe at_setup)
  list(FIND ZARPO_PAYLOAD_NAMES _inst32i.ex_ at_archive)
  list(GET files ${at_setup} setup_exe)
  list(GET files ${at_archive} archive)
  if(NOT setup_exe STREQUAL "-")
    file(READ "${setup_exe}" magic LIMIT 2 HEX)
    if(NOT magic STREQUAL "4d5a")
      list(APPEND problems "setup.exe does not start with \"MZ\": it is not a program the install can start")
    endif()
    string(REPLACE "." "\\." pattern "${ZARPO_DELETER_PROCESS_NAME}")
    file(STRINGS "${setup_exe}" hits REGEX "${pattern}" LIMIT_COUNT 1 NO_HEX_CONVERSION)
    if(hits STREQUAL "")
      list(APPEND problems "setup.exe does not contain \"${ZARPO_DELETER_PROCESS_NAME}\": the install waits for the setup deleter under that name and would not see this package's deleter")
    endif()
  endif()
  if(NOT archive STREQUAL "-")
    string(REPLACE "." "\\." pattern "${ZARPO_ENGINE_PROCESS_NAME}")
    file(STRINGS "${archive}" hits REGEX "${pattern}" LIMIT_COUNT 1 NO_HEX_CONVERSION)
    if(hits STREQUAL "")
      list(APPEND problems "_inst32i.ex_ does not contain \"${ZARPO_ENGINE_PROCESS_NAME}\": the install waits for the setup engine under that name and would not see this package's engine")
    endif()
  endif()

  list(TRANSFORM files REPLACE "^-$" "")
  set(${problems_var} "${problems}" PARENT_SCOPE)
  set(${files_var} "${files}" PARENT_SCOPE)
endfunction()

# zarpo_package_report(<out_var> <dir> <problems>): the message for a refused package.
function(zarpo_package_report out_var dir problems)
  set(text "The setup package in \"${dir}\" cannot be embedded:")
  foreach(problem IN LISTS problems)
    string(APPEND text "\n  - ${problem}")
  endforeach()
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED PACKAGE_DIR)
    message(FATAL_ERROR "usage: cmake -DPACKAGE_DIR=<dir> [-DCOPY_TO=<dir>] -P ${CMAKE_CURRENT_LIST_FILE}")
  endif()
  zarpo_check_package("${PACKAGE_DIR}" problems files)
  if(problems)
    zarpo_package_report(text "${PACKAGE_DIR}" "${problems}")
    message(FATAL_ERROR "${text}")
  endif()
  if(DEFINED COPY_TO)
    file(MAKE_DIRECTORY "${COPY_TO}")
    foreach(name path IN ZIP_LISTS ZARPO_PAYLOAD_NAMES files)
      execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${path}" "${COPY_TO}/${name}"
                      RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR "Could not copy \"${path}\" to \"${COPY_TO}/${name}\"")
      endif()
    endforeach()
  endif()
endif()
