# Runs inside ctest (from the include file orv_add_gtest_suites writes): lists the test program's
# tests and adds one ctest test per gtest suite, which runs the suite's cases in one process with
# --gtest_filter=<suite>.*. A process per suite rather than per case keeps the sanitizer builds'
# start and exit costs to a few hundred processes; a failure still names its case in the output.
# The list is made again only when the program (or this script) is newer than the last list.

# orv_gtest_suites(<program> <list file> <discovery time-out> <properties...>): the properties are
# given to every test, as set_tests_properties takes them.
function(orv_gtest_suites program list_file discovery_timeout)
  list(JOIN ARGN " " properties)
  get_filename_component(target ${program} NAME)
  if(NOT EXISTS "${program}")
    # As for an unbuilt program anywhere in ctest: a test that fails, naming what is missing.
    add_test(${target}_NOT_BUILT ${target}_NOT_BUILT)
    return()
  endif()
  if(NOT EXISTS "${list_file}" OR "${program}" IS_NEWER_THAN "${list_file}"
     OR "${CMAKE_CURRENT_FUNCTION_LIST_FILE}" IS_NEWER_THAN "${list_file}")
    execute_process(COMMAND "${program}" --gtest_list_tests
                    WORKING_DIRECTORY "${CMAKE_CURRENT_LIST_DIR}"
                    TIMEOUT ${discovery_timeout}
                    OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "Listing the tests of ${program} failed (${result}):\n${listing}${errors}")
    endif()
    # Suite lines start in the first column and end with '.', then an optional comment naming the
    # type of a typed suite ("Suite/0.  # TypeParam = int"); case lines are indented. Comments may
    # hold characters that split or bracket CMake lists: only the name before them is kept.
    string(REPLACE ";" "," listing "${listing}")
    string(REPLACE "[" "(" listing "${listing}")
    string(REPLACE "]" ")" listing "${listing}")
    string(REPLACE "\n" ";" lines "${listing}")
    set(content "")
    set(count 0)
    foreach(line IN LISTS lines)
      if(line MATCHES "^([^ #][^ #]*)\\.( .*)?$")
        set(suite "${CMAKE_MATCH_1}")
        string(APPEND content "add_test([=[${suite}]=] [=[${program}]=] [=[--gtest_filter=${suite}.*]=])\n"
                              "set_tests_properties([=[${suite}]=] PROPERTIES ${properties})\n")
        math(EXPR count "${count} + 1")
      endif()
    endforeach()
    if(count EQUAL 0)
      message(FATAL_ERROR "${program} lists no test suite:\n${listing}")
    endif()
    file(WRITE "${list_file}" "${content}")
  endif()
  include("${list_file}")
endfunction()
