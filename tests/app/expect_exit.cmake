# Runs COMMAND with ARGS ("|" between arguments) and fails unless it exits
# with EXPECTED and, when EXPECTED_TEXT is given, prints that text.
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND ${COMMAND} ${args} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL EXPECTED)
  message(FATAL_ERROR "exit code ${rc}, expected ${EXPECTED}\n${out}\n${err}")
endif()
if(DEFINED EXPECTED_TEXT)
  string(FIND "${out}${err}" "${EXPECTED_TEXT}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "\"${EXPECTED_TEXT}\" not printed\n${out}\n${err}")
  endif()
endif()
