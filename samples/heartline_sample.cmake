# Heartlines one sample track with the command-line tool and checks the exit
# status and a text that stdout or stderr must hold.
#   CLI, SAMPLE, OUT, ARGS (a ;-list), EXPECT_RC, EXPECT_TEXT
file(REMOVE ${OUT})
execute_process(COMMAND ${CLI} heartline ${SAMPLE} ${OUT} ${ARGS}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL EXPECT_RC)
  message(FATAL_ERROR "exit status ${rc}, expected ${EXPECT_RC}\nstdout: ${out}\nstderr: ${err}")
endif()
string(FIND "${out}${err}" "${EXPECT_TEXT}" found)
if(found EQUAL -1)
  message(FATAL_ERROR "'${EXPECT_TEXT}' not in the output\nstdout: ${out}\nstderr: ${err}")
endif()
if(EXPECT_RC EQUAL 0 AND NOT EXISTS ${OUT})
  message(FATAL_ERROR "${OUT} was not written")
endif()
if(NOT EXPECT_RC EQUAL 0 AND EXISTS ${OUT})
  message(FATAL_ERROR "${OUT} was written by a failed run")
endif()
