# The release for owners: signed by the maker, and the same bytes from the same commit, image and
# key, so that anyone can rebuild a handed-out program and compare.
#
# The PE time stamp and the signing time are the commit's (SOURCE_DATE_EPOCH when it is set), and
# neither the program nor its debug information names the folders it was built in: the program's
# debug link carries the checksum of its .debug file, so that file must not differ either.

set(TREVOLIN_SIGNING_CERT "" CACHE FILEPATH "The maker's code-signing certificate with its chain (PEM)")
set(TREVOLIN_SIGNING_KEY "" CACHE FILEPATH "The certificate's private key (PEM)")
set(TREVOLIN_SIGNING_PASSWORD_FILE "" CACHE FILEPATH "A file holding the key's password, when the key is encrypted")
set(TREVOLIN_SIGNING_CA "" CACHE FILEPATH
    "The authority the signature is verified against once it is made (PEM); empty: the system's")
set(TREVOLIN_TIMESTAMP_URL "" CACHE STRING
    "An RFC 3161 time-stamp server for the signature; empty: none. A time-stamped program differs from a rebuild in its countersignature")

find_program(TREVOLIN_OSSLSIGNCODE osslsigncode REQUIRED)
find_program(TREVOLIN_OPENSSL openssl REQUIRED)

foreach(input TREVOLIN_SIGNING_CERT TREVOLIN_SIGNING_KEY TREVOLIN_SIGNING_PASSWORD_FILE TREVOLIN_SIGNING_CA)
  if(${input})
    get_filename_component(file "${${input}}" ABSOLUTE)
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "${input} names ${file}, which does not exist")
    endif()
    set(${input} "${file}")
  endif()
endforeach()

# A key that is not the certificate's would be found only when the build signs; say so now.
set(passin)
if(TREVOLIN_SIGNING_PASSWORD_FILE)
  set(passin -passin file:${TREVOLIN_SIGNING_PASSWORD_FILE})
endif()
execute_process(COMMAND ${TREVOLIN_OPENSSL} x509 -noout -pubkey -in ${TREVOLIN_SIGNING_CERT}
                OUTPUT_VARIABLE cert_key RESULT_VARIABLE cert_failed ERROR_VARIABLE why)
if(cert_failed)
  message(FATAL_ERROR "${TREVOLIN_SIGNING_CERT} is no PEM certificate:\n${why}")
endif()
execute_process(COMMAND ${TREVOLIN_OPENSSL} pkey -pubout -in ${TREVOLIN_SIGNING_KEY} ${passin}
                OUTPUT_VARIABLE key_key RESULT_VARIABLE key_failed ERROR_VARIABLE why)
if(key_failed)
  message(FATAL_ERROR "${TREVOLIN_SIGNING_KEY} is no PEM private key that opens (with its password file, if encrypted):\n${why}")
endif()
if(NOT cert_key STREQUAL key_key)
  message(FATAL_ERROR "${TREVOLIN_SIGNING_KEY} is not the private key of ${TREVOLIN_SIGNING_CERT}")
endif()

# The commit's time, taken again when a commit is made or checked out.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(TREVOLIN_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE TREVOLIN_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} rev-parse --git-path HEAD --symbolic-full-name HEAD
                  OUTPUT_VARIABLE head OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  string(REPLACE "\n" ";" head "${head}")
  list(GET head 0 head_file)
  list(GET head 1 branch)
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} rev-parse --git-path ${branch} --git-path packed-refs
                  OUTPUT_VARIABLE refs OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  string(REPLACE "\n" ";" refs "${refs}")
  foreach(file ${head_file} ${refs})
    if(NOT IS_ABSOLUTE "${file}")
      set(file ${PROJECT_SOURCE_DIR}/${file})
    endif()
    if(EXISTS "${file}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
    endif()
  endforeach()
endif()
if(NOT TREVOLIN_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "The release takes its time stamp from the commit, and ${PROJECT_SOURCE_DIR} is no git "
                      "checkout: set SOURCE_DATE_EPOCH to the commit's time (seconds since 1970)")
endif()

# The debug information that stays beside the program, for the maker to read a crash report by.
# The sources' folder and the build's are named alike in every build; the build's comes last, as
# the last match wins and it may lie inside the sources.
add_compile_options(-g -ffile-prefix-map=${PROJECT_SOURCE_DIR}=trevolin -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)

# trevolin_release_program(target): after every link, the program as owners get it (see
# ReleaseProgram.cmake, which also gives it the commit's time). A new key signs it again.
function(trevolin_release_program target)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${TREVOLIN_SIGNING_CERT} ${TREVOLIN_SIGNING_KEY})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DOBJCOPY=${CMAKE_OBJCOPY}
            -DOSSLSIGNCODE=${TREVOLIN_OSSLSIGNCODE} -DEPOCH=${TREVOLIN_SOURCE_DATE_EPOCH}
            -DCERT=${TREVOLIN_SIGNING_CERT} -DKEY=${TREVOLIN_SIGNING_KEY}
            -DPASSWORD_FILE=${TREVOLIN_SIGNING_PASSWORD_FILE} -DCA=${TREVOLIN_SIGNING_CA}
            -DTIMESTAMP_URL=${TREVOLIN_TIMESTAMP_URL} -P ${PROJECT_SOURCE_DIR}/cmake/ReleaseProgram.cmake
    VERBATIM)
endfunction()
