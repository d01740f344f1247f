# Checks of a program's imports, and wiring that programs linked to TavroUSB.dll call for themselves
# (app/ for Trevolin.exe).

set(TREVOLIN_PE_CHECK ${CMAKE_CURRENT_LIST_DIR}/tests/check_imports.py CACHE INTERNAL "The PE import and export check")

# trevolin_check_imports(target): a `pe` test that the program imports from TavroUSB.dll exactly
# the six functions of the maker's library, by their plain names, that every other DLL it imports
# is a KnownDLL, and that it is built for this target's machine. Runs in every Windows build, the
# x86 release included, since it only reads the file.
function(trevolin_check_imports target)
  trevolin_pe_import_test(${target}_imports imports ${target})
endfunction()

# trevolin_check_known_imports(target): a `pe` test that a program with the deck linked in imports
# nothing but KnownDLLs.
function(trevolin_check_known_imports target)
  trevolin_pe_import_test(${target}_imports known ${target})
endfunction()

function(trevolin_pe_import_test name what target)
  if(NOT WIN32)
    return()
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(machine x86)
  else()
    set(machine x64)
  endif()
  add_test(NAME ${name}
           COMMAND ${Python3_EXECUTABLE} ${TREVOLIN_PE_CHECK} ${what} $<TARGET_FILE:${target}> --machine ${machine})
  set_tests_properties(${name} PROPERTIES LABELS pe)
endfunction()

# trevolin_use_tavro_dll(target): in the test builds, puts the stand-in TavroUSB.dll next to the
# program after every build, where Windows looks first, so that the production wiring runs under
# Wine against the emulated deck. The release folder never gets the stand-in.
function(trevolin_use_tavro_dll target)
  if(NOT WIN32 OR TREVOLIN_RELEASE)
    return()
  endif()
  add_dependencies(${target} tavro_standin)
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:tavro_standin>
                             $<TARGET_FILE_DIR:${target}>/TavroUSB.dll
                     VERBATIM)
endfunction()
