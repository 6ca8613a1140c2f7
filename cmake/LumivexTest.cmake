# lumivex_add_test(NAME SOURCES ... LIBS ... [GUI] [TIMEOUT seconds])
# A GUI test needs a display (the test command starts Xvfb) and is labelled
# "gui"; the others also run in the sanitizer build. Every test program
# carries the crash report of tests/support/CrashTrace.cpp.
function(lumivex_add_test name)
  cmake_parse_arguments(T "GUI" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(T_GUI AND NOT LUMIVEX_GUI)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  # A test program that dies of a signal writes every thread's backtrace
  # (tests/support/CrashTrace.cpp); its own functions are named there.
  if(TARGET lumivex_crash_trace)
    target_link_libraries(${name} PRIVATE lumivex_crash_trace)
    target_link_options(${name} PRIVATE -rdynamic)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_GUI)
    set_tests_properties(${name} PROPERTIES LABELS gui)
  endif()
endfunction()
