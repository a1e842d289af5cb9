# Runs one script test: the script must exit with status 0 and, when a file
# NAME.out sits beside NAME.nut, print exactly its contents.
execute_process(COMMAND ${RUNNER} ${SCRIPT}
                WORKING_DIRECTORY ${WORKDIR}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${SCRIPT} exited with ${rc}\n--- stdout ---\n${out}\n--- stderr ---\n${err}")
endif()
if(EXISTS ${EXPECTED})
  file(READ ${EXPECTED} want)
  if(NOT out STREQUAL want)
    file(WRITE ${ACTUAL} "${out}")
    message(FATAL_ERROR "${SCRIPT}: output differs from ${EXPECTED} (actual output in ${ACTUAL})\n--- stdout ---\n${out}\n--- stderr ---\n${err}")
  endif()
endif()
