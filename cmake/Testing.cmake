# Test helpers. Native tests run directly; Windows-side tests run through Wine (the cross-compiling
# emulator), the x86 ones under 32-bit Wine in the same x86-64 prefix, as WoW64 runs them on 64-bit
# Windows. The release for owners runs nothing but checks of its own output files.
set(TREVOLIN_RUNS_TESTS ON)
if(TREVOLIN_RELEASE)
  set(TREVOLIN_RUNS_TESTS OFF)
endif()

# The x86 build is the program owners get, proven by running it. Where the kernel runs no 32-bit
# programs its tests could only be skipped, and a run would pass without it ever having run: the
# build refuses instead.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND TREVOLIN_RUNS_TESTS)
  set(TREVOLIN_WINE32 /usr/lib/wine/wine CACHE FILEPATH "32-bit Wine's loader, started once to see that this machine runs 32-bit programs")
  execute_process(COMMAND ${TREVOLIN_WINE32} --version RESULT_VARIABLE started OUTPUT_QUIET ERROR_QUIET)
  if(NOT started STREQUAL "0")
    message(FATAL_ERROR "This machine runs no 32-bit programs (${TREVOLIN_WINE32} --version gave \"${started}\"), "
                        "so the x86 build cannot run its tests. Install 32-bit Wine (scripts/setup.sh), or test "
                        "the other presets alone: scripts/test.sh win64 fuzz native-tsan native-asan")
  endif()
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

# trevolin_use_tavrousb_standin(target): puts the stand-in TavroUSB.dll next to the program after
# every build, where Windows looks first, so that the production wiring runs under Wine against the
# emulated deck. Only the Windows test builds call it: the release folder never gets the stand-in.
function(trevolin_use_tavrousb_standin target)
  add_dependencies(${target} tavrousb_standin)
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:tavrousb_standin>
                             $<TARGET_FILE_DIR:${target}>/TavroUSB.dll
                     VERBATIM)
endfunction()

if(WIN32 AND TREVOLIN_RUNS_TESTS)
  # The build's Wine prefix, made before the tests that need it: the end-to-end tests copy it.
  add_test(NAME wine_prefix COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} cmd /c exit)
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix LABELS win TIMEOUT 300)
  add_test(NAME wine_run_lets_go
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/tests/wine_run_test.py ${TREVOLIN_WINE_PREFIX})
  set_tests_properties(wine_run_lets_go PROPERTIES FIXTURES_REQUIRED wine_prefix LABELS win TIMEOUT 120)
endif()

# trevolin_test(NAME name [EACH_CASE] [WINDOWS] LABELS labels... SOURCES files... LIBS libs...
#                [TIMEOUT s])
# One gtest program. Native programs get the label `unit`, Windows ones `win` unless LABELS says
# otherwise. EACH_CASE, for a program with several cases that wait in real time: each case is a
# ctest entry of its own, named program.Suite.Case, so that they wait side by side; otherwise the
# program is one entry (a case costs a start of the program, under Wine a start of Wine's process).
# WINDOWS: its cases open windows, and take the build's Wine desktop one at a time.
# Side by side, one program's window would be activated, focused or under the pointer while
# another's is looked at: they share the desktop's foreground, focus and cursor.
function(trevolin_test)
  cmake_parse_arguments(T "EACH_CASE;WINDOWS" "NAME;TIMEOUT" "LABELS;SOURCES;LIBS" ${ARGN})
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
  if(T_WINDOWS)
    list(APPEND properties RESOURCE_LOCK wine_desktop)
  endif()
  if(T_EACH_CASE)
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
