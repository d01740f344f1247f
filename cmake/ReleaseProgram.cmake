# cmake -DPROGRAM=... -DOBJCOPY=... -DOSSLSIGNCODE=... -DEPOCH=... -DCERT=... -DKEY=...
#       [-DPASSWORD_FILE=...] [-DCA=...] [-DTIMESTAMP_URL=...] -P ReleaseProgram.cmake
# Makes a linked program into the one owners get: its debug information moves to PROGRAM.debug,
# which its debug link names with that file's checksum; it is stripped, signed (Authenticode,
# SHA-256, signing time EPOCH) and the signature verified, against CA when given. When a step
# fails, no program is left to hand out.

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(failed)
    file(REMOVE ${PROGRAM} ${PROGRAM}.signed)
    message(FATAL_ERROR "${PROGRAM}: ${what} failed (${failed}):\n${out}${err}")
  endif()
endfunction()

set(ENV{SOURCE_DATE_EPOCH} ${EPOCH})  # objcopy writes the PE time stamp afresh: the commit's
run("keeping the debug information" ${OBJCOPY} --only-keep-debug ${PROGRAM} ${PROGRAM}.debug)
run("stripping" ${OBJCOPY} --strip-all --add-gnu-debuglink=${PROGRAM}.debug ${PROGRAM})

set(sign ${OSSLSIGNCODE} sign -certs ${CERT} -key ${KEY} -h sha256 -n Trevolin -time ${EPOCH})
if(PASSWORD_FILE)
  list(APPEND sign -readpass ${PASSWORD_FILE})
endif()
if(TIMESTAMP_URL)
  list(APPEND sign -ts ${TIMESTAMP_URL})
endif()
file(REMOVE ${PROGRAM}.signed)
run("signing" ${sign} -in ${PROGRAM} -out ${PROGRAM}.signed)
set(verify ${OSSLSIGNCODE} verify -in ${PROGRAM}.signed)
if(CA)
  list(APPEND verify -CAfile ${CA})
endif()
run("verifying the signature" ${verify})
file(RENAME ${PROGRAM}.signed ${PROGRAM})
