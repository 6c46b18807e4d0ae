# SPDX-License-Identifier: MIT
# Fails if a test of the build in BUILD_DIR has no label, naming it; prints
# the number of tests of each label. Run as cmake -DCTEST=... -DBUILD_DIR=... -P this.

# The names of the tests ctest selects with the options ARGN.
function(select_tests out)
  execute_process(COMMAND ${CTEST} --test-dir ${BUILD_DIR} -N ${ARGN} OUTPUT_VARIABLE listing
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "Test +#[0-9]+: [^\n]+" tests "${listing}")
  list(TRANSFORM tests REPLACE "^Test +#[0-9]+: " "")
  set(${out} "${tests}" PARENT_SCOPE)
endfunction()

select_tests(all)
list(LENGTH all count)
if(count EQUAL 0)
  message(FATAL_ERROR "no tests listed in ${BUILD_DIR}")
endif()
execute_process(COMMAND ${CTEST} --test-dir ${BUILD_DIR} --print-labels OUTPUT_VARIABLE labels
                COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "\n  [^\n]+" labels "${labels}")
foreach(label IN LISTS labels)
  string(STRIP "${label}" label)
  select_tests(tests -L "^${label}$")
  list(LENGTH tests n)
  message(STATUS "label ${label}: ${n} tests")
endforeach()
select_tests(unlabelled -LE .)  # a test is left out if any of its labels matches
if(unlabelled)
  list(JOIN unlabelled ", " unlabelled)
  message(FATAL_ERROR "tests without a label: ${unlabelled}")
endif()
message(STATUS "all ${count} tests have a label")
