# The `pe` tests: checks of the built programs' files, which only read them, so they run in every
# Windows build, the x86 release's included. check_imports.py reads a program's tie to TavroUSB.dll
# and the DLLs it imports; check_program.py its headers, resources, the image it carries and, for
# the release, what the release adds.

# trevolin_pe_test(NAME name CHECK imports|known|exports TARGET target [properties...]): one run of
# check_imports.py on the target's file, built for this build's machine:
#   imports  exactly the six functions of the maker's library from TavroUSB.dll, by their plain
#            names, and otherwise only KnownDLLs (a program linked to TavroUSB.dll)
#   known    only KnownDLLs (a program with the emulated deck linked in)
#   exports  exactly the six (the stand-in TavroUSB.dll)
# The name defaults to <target>_<check>; further arguments are the test's properties.
function(trevolin_pe_test)
  cmake_parse_arguments(P "" "NAME;CHECK;TARGET" "" ${ARGN})
  if(NOT P_NAME)
    set(P_NAME ${P_TARGET}_${P_CHECK})
  endif()
  add_test(NAME ${P_NAME}
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/pe/check_imports.py ${P_CHECK}
                   $<TARGET_FILE:${P_TARGET}> --machine $<IF:$<EQUAL:${CMAKE_SIZEOF_VOID_P},4>,x86,x64>)
  set_tests_properties(${P_NAME} PROPERTIES LABELS pe ${P_UNPARSED_ARGUMENTS})
endfunction()

# trevolin_check_program(target): the program as owners get it, checked by check_program.py: its
# headers and resources, the image it was built from (the image target's file), byte for byte; the
# release also without debug sections, with its debug link, the commit's time and its signature.
function(trevolin_check_program target)
  math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
  set(release)
  if(TREVOLIN_RELEASE)
    set(release --release ${TREVOLIN_SOURCE_DATE_EPOCH} ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  endif()
  add_test(NAME ${target}_as_handed_out
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/pe/check_program.py --bits ${bits}
                   --image $<TARGET_PROPERTY:image,TREVOLIN_IMAGE_FILE> ${release} $<TARGET_FILE:${target}>)
  set_tests_properties(${target}_as_handed_out PROPERTIES LABELS pe)
endfunction()
