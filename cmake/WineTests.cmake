# Test registration. Cross-built test programs run under Wine through the
# harness in tests/harness: one scratch prefix and one private network
# namespace per test run, set up and torn down as CTest fixtures.

set(ZORVIK_HARNESS_DIR ${PROJECT_SOURCE_DIR}/tests/harness)
set(ZORVIK_WINE_DIR ${PROJECT_BINARY_DIR}/wine)
string(MD5 _zorvik_build_hash "${PROJECT_BINARY_DIR}")
string(SUBSTRING "${_zorvik_build_hash}" 0 10 _zorvik_build_hash)
set(ZORVIK_TEST_NETNS "zorvik-test-${_zorvik_build_hash}")

# A guard against a hung test, not a measure: the slowest test (full heap
# validation) takes about a fifth of it on a machine that runs 32-bit code
# natively. Runs beside a heavy load (scripts/test --flake-hunt) raise it.
set(ZORVIK_TEST_TIMEOUT_SECONDS 600 CACHE STRING "Time-out of each test that runs Windows programs")

# Heap checks are always on; CTest labels can raise them further.
set(ZORVIK_TEST_ENVIRONMENT
  "WINEPREFIX=${ZORVIK_WINE_DIR}/run"
  "WINEDEBUG=-all,err+heap,warn+heap"
  "ZORVIK_WINE_TEMPLATE=${ZORVIK_WINE_DIR}/template"
  "ZORVIK_TEST_NETNS=${ZORVIK_TEST_NETNS}"
  # Windows programs run through it, so that their exit code is Windows'
  # (tests/harness/ExitCodeOf.cpp).
  "ZORVIK_EXIT_CODE_OF=${PROJECT_BINARY_DIR}/tests/ExitCodeOf.exe"
)
# The shipped program is the 32-bit build. A 64-bit build of the same sources
# is for testing only: it runs in a 64-bit prefix through Wine's 64-bit loader
# alone, which also starts where the kernel refuses the 32-bit one.
set(ZORVIK_SHIPPED_BUILD ON)
set(ZORVIK_TEST_PATH_MODIFICATION "")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ZORVIK_SHIPPED_BUILD OFF)
  list(APPEND ZORVIK_TEST_ENVIRONMENT "WINEARCH=win64")
  set(ZORVIK_TEST_PATH_MODIFICATION "PATH=path_list_prepend:${PROJECT_SOURCE_DIR}/tools/wine/bin64")
endif()

# The same settings for scripts that must reach the run's prefix, such as the
# clean-up after an interrupted run.
set(_zorvik_env_script "")
foreach(_zorvik_setting IN LISTS ZORVIK_TEST_ENVIRONMENT)
  string(REGEX REPLACE "^([^=]*)=(.*)$" "export \\1='\\2'\n" _zorvik_line "${_zorvik_setting}")
  string(APPEND _zorvik_env_script "${_zorvik_line}")
endforeach()
file(WRITE ${ZORVIK_WINE_DIR}/test-env.sh "${_zorvik_env_script}")

set(ZORVIK_UNDER_WINE OFF)
if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
  set(ZORVIK_UNDER_WINE ON)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZORVIK_HARNESS_DIR}/wine-run)

  add_test(NAME wine_prefix_setup COMMAND ${ZORVIK_HARNESS_DIR}/prefix-setup)
  add_test(NAME wine_prefix_cleanup COMMAND ${ZORVIK_HARNESS_DIR}/prefix-cleanup)
  set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine_prefix)
  set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine_prefix)
  foreach(_zorvik_fixture wine_prefix_setup wine_prefix_cleanup)
    set_tests_properties(${_zorvik_fixture} PROPERTIES
      ENVIRONMENT "${ZORVIK_TEST_ENVIRONMENT}"
      ENVIRONMENT_MODIFICATION "${ZORVIK_TEST_PATH_MODIFICATION}"
      LABELS wine)
  endforeach()
endif()

# Marks a test as one that runs in the run's prefix and namespace (label
# "wine", so that ctest -LE wine runs the rest on a machine without Wine).
function(zorvik_use_wine_prefix test)
  if(ZORVIK_UNDER_WINE)
    set_tests_properties(${test} PROPERTIES
      FIXTURES_REQUIRED wine_prefix
      ENVIRONMENT "${ZORVIK_TEST_ENVIRONMENT}"
      ENVIRONMENT_MODIFICATION "${ZORVIK_TEST_PATH_MODIFICATION}")
    set_property(TEST ${test} APPEND PROPERTY LABELS wine)
  endif()
  set_tests_properties(${test} PROPERTIES TIMEOUT ${ZORVIK_TEST_TIMEOUT_SECONDS})
endfunction()

# zorvik_add_namespaced_test(NAME COMMAND...): a test made of host programs
# (Python scripts that start services and run Windows programs) that runs
# inside the run's network namespace, with the run's prefix settings.
function(zorvik_add_namespaced_test name)
  if(ZORVIK_UNDER_WINE)
    add_test(NAME ${name}
      COMMAND ${PROJECT_SOURCE_DIR}/tools/wine/testnet exec ${ZORVIK_TEST_NETNS} ${ARGN})
  else()
    add_test(NAME ${name} COMMAND ${ARGN})
  endif()
  zorvik_use_wine_prefix(${name})
endfunction()

# zorvik_add_gtest(NAME SOURCES... LIBRARIES... [LAUNCHER command...]
#                  [NO_HEAP_VALIDATION]): one executable, one CTest entry,
# label "unit". A launcher (for example a script that starts loopback servers)
# runs first, inside the run's network namespace, and is given the command
# that runs the test program under Wine. Test programs run with full heap
# validation unless they opt out.
function(zorvik_add_gtest name)
  cmake_parse_arguments(ARG "NO_HEAP_VALIDATION" "" "SOURCES;LIBRARIES;LAUNCHER" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest_main ${ARG_LIBRARIES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  if(ARG_LAUNCHER AND ZORVIK_UNDER_WINE)
    add_test(NAME ${name}
      COMMAND ${PROJECT_SOURCE_DIR}/tools/wine/testnet exec ${ZORVIK_TEST_NETNS}
              ${ARG_LAUNCHER} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
  elseif(ARG_LAUNCHER)
    # Natively (Windows): the launcher starts its servers and runs the program.
    add_test(NAME ${name} COMMAND ${ARG_LAUNCHER} $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  zorvik_use_wine_prefix(${name})
  set_property(TEST ${name} APPEND PROPERTY LABELS unit)
  if(NOT ARG_NO_HEAP_VALIDATION)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT ZORVIK_HEAP_VALIDATION=1)
  endif()
endfunction()
