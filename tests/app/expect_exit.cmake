# Runs COMMAND with ARGS and fails unless it exits with EXPECTED.
execute_process(COMMAND ${COMMAND} ${ARGS} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL EXPECTED)
  message(FATAL_ERROR "exit code ${rc}, expected ${EXPECTED}\n${out}\n${err}")
endif()
