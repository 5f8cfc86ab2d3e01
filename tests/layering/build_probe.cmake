# Builds one probe target and checks the outcome.
#   cmake -DBUILD_DIR=... -DTARGET=... -DEXPECT=fail|pass [-DMISSING=header] -P build_probe.cmake
# With EXPECT=fail the build must fail because MISSING cannot be found.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${TARGET}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(EXPECT STREQUAL "pass")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TARGET} should build:\n${out}")
  endif()
elseif(rc EQUAL 0)
  message(FATAL_ERROR "${TARGET} built, but it includes ${MISSING}, which its links do not export")
elseif(NOT out MATCHES "${MISSING}")
  message(FATAL_ERROR "${TARGET} failed for another reason than ${MISSING}:\n${out}")
endif()
