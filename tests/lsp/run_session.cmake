# Runs one scripted session: cmake -DDRIVER=... -DSERVER=... -DSESSION=... -DWORK=...
# [-DEMULATOR=wine] -P run_session.cmake
get_filename_component(name "${SESSION}" NAME_WE)
set(input "${WORK}/${name}.in")
set(output "${WORK}/${name}.out")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND ${EMULATOR} "${DRIVER}" frame "${SESSION}" "${input}"
                RESULT_VARIABLE framed)
if(NOT framed EQUAL 0)
  message(FATAL_ERROR "could not frame ${SESSION}")
endif()
execute_process(COMMAND ${EMULATOR} "${SERVER}" INPUT_FILE "${input}" OUTPUT_FILE "${output}"
                RESULT_VARIABLE status)
execute_process(COMMAND ${EMULATOR} "${DRIVER}" check "${SESSION}" "${output}" "${status}"
                RESULT_VARIABLE checked)
if(NOT checked EQUAL 0)
  message(FATAL_ERROR "session ${name} failed")
endif()
