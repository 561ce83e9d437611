# Helpers that turn the source folders into targets: one library per folder or group of neighbouring
# folders, one test program per folder or group (their *_test.cpp files), and the fuzz targets of fuzz/.

# orv_add_library(<target> <folder>...): a static library of the folders' .cpp files, tests excluded.
function(orv_add_library target)
  set(sources "")
  foreach(folder ${ARGN})
    file(GLOB folder_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    list(APPEND sources ${folder_sources})
  endforeach()
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$")
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/src)
endfunction()

# orv_embed_text(<target> <text file> <generated name>): compiles a text file of the source tree into
# the target: the generated file <generated name> (under the build's generated/ folder, which the
# target gets as an include folder) holds the file's bytes as a string literal, made again whenever
# the text changes.
function(orv_embed_text target input generated)
  set(output ${CMAKE_BINARY_DIR}/generated/${generated})
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/${input} -DOUTPUT=${output}
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedText.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/${input} ${CMAKE_SOURCE_DIR}/cmake/EmbedText.cmake
    COMMENT "Embedding ${input}"
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
endfunction()

# Test sources compiled together in one translation unit (0: all of a program's sources). Helpers
# in a test source's anonymous namespace must therefore have names no other test source of the same
# program uses.
set(ORV_TEST_UNITY_BATCH 16 CACHE STRING "Test sources per unity batch")

# orv_add_unit_tests(<target> <folder> [MAIN <file>] [libraries...]): one gtest program of the
# folder's *_test.cpp files, with the engine's test main unless another is named.
# Test suites whose name contains "Threaded" use real threads; `make test-tsan` runs those.
function(orv_add_unit_tests target folder)
  cmake_parse_arguments(ARG "" "MAIN" "" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  if(NOT ARG_MAIN)
    set(ARG_MAIN ${CMAKE_SOURCE_DIR}/tests/support/engine_test_main.cpp)
  endif()
  # Each main is compiled once for every program that uses it.
  get_filename_component(main_name ${ARG_MAIN} NAME_WE)
  if(NOT TARGET orv_${main_name})
    add_library(orv_${main_name} OBJECT ${ARG_MAIN})
    target_link_libraries(orv_${main_name} PRIVATE orv_test_support GTest::gtest ${ARG_UNPARSED_ARGUMENTS})
    target_compile_options(orv_${main_name} PRIVATE ${ORV_TEST_CODE_OPTIONS})
  endif()
  add_executable(${target} ${sources} $<TARGET_OBJECTS:orv_${main_name}>)
  target_link_libraries(${target} PRIVATE orv_test_support GTest::gtest GTest::gmock ${ARG_UNPARSED_ARGUMENTS})
  target_compile_options(${target} PRIVATE ${ORV_TEST_CODE_OPTIONS})
  # Compiled in batches of test sources, one translation unit each: the test framework's headers,
  # which take most of a test source's compile time, are read once per batch. Sixteen to a batch
  # compile a little quicker than eight (5 to 30 % less compile time, the sanitizer build gaining
  # least), and the largest batch still compiles in well under half a minute.
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${ORV_TEST_UNITY_BATCH})
  orv_add_gtest_suites(${target} TIMEOUT 300 RESOURCE_GROUPS cpus:1)
endfunction()

# orv_add_gtest_suites(<target> <test properties...>): one ctest test per gtest suite of the program,
# named after the suite and running its cases in one process. The suites are listed when ctest runs,
# once the program is built (cmake/GTestSuites.cmake), as GoogleTest's PRE_TEST discovery does.
function(orv_add_gtest_suites target)
  set(include_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_suites_include.cmake)
  set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake)
  list(JOIN ARGN " " properties)
  file(GENERATE OUTPUT ${include_file} CONTENT
    "include([=[${CMAKE_SOURCE_DIR}/cmake/GTestSuites.cmake]=])\n\
orv_gtest_suites([=[$<TARGET_FILE:${target}>]=] [=[${list_file}]=] 60 ${properties})\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()

# orv_add_unit_test_folders(<target> <folder>...): the *_test.cpp files of more folders join the test
# program <target> made by orv_add_unit_tests, for a program that tests a library of several folders.
function(orv_add_unit_test_folders target)
  foreach(folder ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*_test.cpp)
    target_sources(${target} PRIVATE ${sources})
  endforeach()
endfunction()

# Every fuzz/fuzz_<name>.cpp defines LLVMFuzzerTestOneInput. With ORV_FUZZ (clang) it links against
# libFuzzer; otherwise it is a plain program that replays fuzz/corpus/<name>/, registered with ctest.
# Extra arguments are libraries every target links besides the test support.
function(orv_add_fuzz_targets)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/fuzz_*.cpp)
  if(sources AND NOT ORV_FUZZ AND ORV_BUILD_TESTS)
    # The replay main, compiled once for every target.
    add_library(orv_fuzz_replay_main OBJECT ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
  endif()
  foreach(src ${sources})
    get_filename_component(name ${src} NAME_WE)
    string(REGEX REPLACE "^fuzz_" "" short ${name})
    if(ORV_FUZZ)
      add_executable(${name} ${src})
      target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
      target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    elseif(ORV_BUILD_TESTS)
      add_executable(${name} ${src} $<TARGET_OBJECTS:orv_fuzz_replay_main>)
      add_test(NAME fuzz_replay_${short}
               COMMAND ${name} ${CMAKE_SOURCE_DIR}/fuzz/corpus/${short})
      set_tests_properties(fuzz_replay_${short} PROPERTIES RESOURCE_GROUPS cpus:1)
    else()
      continue()
    endif()
    target_link_libraries(${name} PRIVATE orv_test_support ${ARGN})
  endforeach()
endfunction()

# orv_add_python_tests(<folder> [VARIABLE=value...]): one ctest test per <folder>/*_test.py, run as
# `python3 -m unittest <module>` inside the folder, with the extra environment given. The npm peers
# must be there (scripts/setup.sh installs them) rather than skipped, and the integration tests find
# the server binary through ORV_DEDICATED_SERVER once that target exists.
function(orv_add_python_tests folder)
  file(GLOB modules CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*_test.py)
  set(environment ORV_REQUIRE_NPM_PEERS=1 PYTHONDONTWRITEBYTECODE=1 ${ARGN})
  if(TARGET DedicatedServer)
    list(APPEND environment ORV_DEDICATED_SERVER=$<TARGET_FILE:DedicatedServer>)
  endif()
  # Timing bounds of the integration tests allow for a server slowed by the sanitizers.
  if(ORV_SANITIZE)
    list(APPEND environment ORV_SANITIZED=1)
  endif()
  get_filename_component(group ${folder} NAME)
  foreach(module_path ${modules})
    get_filename_component(module ${module_path} NAME_WE)
    add_test(NAME ${group}.${module}
             COMMAND Python3::Interpreter -m unittest -v ${module}
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/${folder})
    # Modules named *_slow_test.py wait for the server's real time-outs: label "slow" as well. The soak
    # (soak_test.py) is labelled "soak"; `make soak` runs it for SOAK_TICKS ticks (3,000 ticks of 200 ms
    # are ten minutes), hence its longer time-out.
    # COST orders a first run, before ctest has timed any test: the soak and the slow suites (a minute
    # or more each) start first, the other server suites next, so that none of them starts last.
    set(labels python)
    set(timeout 300)
    set(cost 1)
    if(group STREQUAL "integration")
      set(cost 30)
    endif()
    if(module MATCHES "_slow_test$")
      list(APPEND labels slow)
      set(cost 100)
    endif()
    if(module MATCHES "^soak_test$")
      list(APPEND labels soak)
      set(timeout 1800)
      set(cost 200)
    endif()
    set_tests_properties(${group}.${module} PROPERTIES ENVIRONMENT "${environment}" TIMEOUT ${timeout}
                         LABELS "${labels}" COST ${cost} RESOURCE_GROUPS waits:1)
  endforeach()
endfunction()
