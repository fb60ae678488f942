# Helpers that every test folder uses, so that the native, sanitizer and Wine
# configurations treat tests the same way.
#
#   qv_add_unit_test(NAME SOURCES ... [LIBS ...] [CONCURRENCY] [TIMEOUT seconds])
#       A native GoogleTest program of the portable logic. Built in the native
#       configurations only. CONCURRENCY marks it for the ThreadSanitizer run.
#   qv_add_win_test(NAME SOURCES ... [LIBS ...] [TIMEOUT seconds])
#       A GoogleTest program of the Win32 layer, built by MinGW and run by
#       ctest through Wine.
#
# Every test program is one ctest entry. scripts/test sums the individual
# GoogleTest cases from the XML reports the programs write.
#
# Every test program has a time limit: a hung test fails after
# QV_TEST_TIMEOUT seconds instead of holding the run for ctest's default of
# 25 minutes. A program that legitimately runs longer (an end-to-end
# scenario) states its own bounded limit with TIMEOUT seconds.

set(QV_TEST_TIMEOUT 60)

function(qv_set_test_timeout name seconds)
  if(NOT seconds)
    set(seconds ${QV_TEST_TIMEOUT})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${seconds})
endfunction()

function(qv_add_unit_test name)
  cmake_parse_arguments(T "CONCURRENCY" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(WIN32)
    return()
  endif()
  if(QV_TSAN AND NOT T_CONCURRENCY)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  add_test(NAME ${name} COMMAND ${name})
  qv_set_test_timeout(${name} "${T_TIMEOUT}")
  if(T_CONCURRENCY)
    set_tests_properties(${name} PROPERTIES LABELS concurrency)
  endif()
endfunction()

function(qv_add_win_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gmock gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  add_test(NAME ${name} COMMAND ${name})
  qv_set_test_timeout(${name} "${T_TIMEOUT}")
  set_tests_properties(${name} PROPERTIES LABELS win32)
endfunction()
