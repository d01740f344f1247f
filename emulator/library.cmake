# Library side of the emulated deck: the deck's half in the core, the six functions answered by it
# (emulator_library, linked into the native tests and the emulated program) and the stand-in
# TavroUSB.dll that the production wiring loads under Wine.
target_sources(emulator PRIVATE ${CMAKE_CURRENT_LIST_DIR}/LibrarySide.cpp)
target_link_libraries(emulator PUBLIC image)

add_library(emulator_library STATIC ${CMAKE_CURRENT_LIST_DIR}/library_calls.cpp)
trevolin_target(emulator_library)
target_link_libraries(emulator_library PUBLIC emulator)

if(WIN32)
  # Exports the six under the names and convention of the maker's library: the .def lists the x86
  # names decorated, and --kill-at exports them plain.
  get_target_property(tavro_def tavrousb_import TREVOLIN_DEF)
  add_library(tavro_standin SHARED ${CMAKE_CURRENT_LIST_DIR}/library_calls.cpp ${tavro_def})
  trevolin_target(tavro_standin)
  target_link_libraries(tavro_standin PRIVATE emulator)
  set_target_properties(tavro_standin PROPERTIES OUTPUT_NAME TavroUSB PREFIX "" SUFFIX ".dll"
                                                 RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/standin)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(tavro_standin PRIVATE -Wl,--kill-at)
  endif()
  trevolin_pe_test(CHECK exports TARGET tavro_standin)
  if(TREVOLIN_RUNS_TESTS)
    # The production wiring under Wine: a program that imports the six loads the stand-in.
    trevolin_wine_test(NAME library_dll_test
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/tests/library_dll_check.py
                     ${PROJECT_SOURCE_DIR}/scripts/wine-run ${TREVOLIN_WINE_PREFIX} $<TARGET_FILE:transfer_probe_dll>)
    set_tests_properties(library_dll_test PROPERTIES LABELS win TIMEOUT 300)
  endif()
endif()

trevolin_test(NAME library_side_test SOURCES tests/library_side_test.cpp LIBS emulator_library link)
