# Test helpers. Native tests run directly; Windows-side tests run through Wine (the cross-compiling
# emulator). The 32-bit release build runs nothing but checks of its own output files.
set(TREVOLIN_RUNS_TESTS ON)
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(TREVOLIN_RUNS_TESTS OFF)
endif()

if(TREVOLIN_RUNS_TESTS AND NOT TREVOLIN_FUZZ)
  if(WIN32)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # Built here for mingw: quickly, as it is not under test.
    target_compile_options(gtest PRIVATE -O1 -g0)
    target_compile_options(gtest_main PRIVATE -O1 -g0)
  else()
    # Debian's build of GoogleTest (libgtest-dev): compiled once for every native preset, and left
    # out of the sanitizers' instrumentation, which is for the project's code.
    find_package(GTest 1.12 CONFIG REQUIRED)
  endif()
  include(GoogleTest)
endif()

if(WIN32 AND TREVOLIN_RUNS_TESTS)
  # The build's Wine prefix, made before the tests that need it: the end-to-end tests copy it.
  add_test(NAME wine_prefix COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} cmd /c exit)
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix LABELS win TIMEOUT 300)
endif()

# Test programs with several cases that wait in real time: each case is a ctest entry of its own,
# named program.Suite.Case, so that they wait side by side. The others are one entry each (a case
# costs a start of the program, under Wine a start of Wine's process; and their folders may set
# properties on the entry by its name).
set(TREVOLIN_EACH_CASE stages_deck_test image_sender_test link_session_test link_checks_test)

# trevolin_test(NAME name LABELS labels... SOURCES files... LIBS libs... [TIMEOUT s])
# One gtest program. Native programs get the label `unit`, Windows ones `win` unless LABELS says
# otherwise.
function(trevolin_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "LABELS;SOURCES;LIBS" ${ARGN})
  if(NOT TREVOLIN_RUNS_TESTS OR TREVOLIN_FUZZ)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  trevolin_target(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main Threads::Threads)
  if(NOT T_LABELS)
    if(WIN32)
      set(T_LABELS win)
    else()
      set(T_LABELS unit)
    endif()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(properties LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
  if(WIN32)
    list(APPEND properties FIXTURES_REQUIRED wine_prefix)
  endif()
  if(T_NAME IN_LIST TREVOLIN_EACH_CASE)
    if(WIN32)
      # The test list is read line by line: without the CR of Windows' line ends.
      set_target_properties(${T_NAME} PROPERTIES CROSSCOMPILING_EMULATOR
        "${PROJECT_SOURCE_DIR}/scripts/wine-run;--unix-lines;${TREVOLIN_WINE_PREFIX}")
    endif()
    gtest_discover_tests(${T_NAME} TEST_PREFIX ${T_NAME}. EXTRA_ARGS --gtest_color=no NO_PRETTY_VALUES
                         DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES ${properties})
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
    set_tests_properties(${T_NAME} PROPERTIES ${properties})
  endif()
endfunction()
