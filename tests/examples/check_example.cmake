# Converts SOURCE with VORPEX into OUTPUT (with the options ARGS, when given) and checks that the
# run succeeds (its console ends with SUCCESS, "Convert success!" unless given) and that OUTPUT is
# EXPECTED byte for byte.
foreach(var VORPEX SOURCE EXPECTED OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
if(NOT EXISTS ${EXPECTED})
  message(FATAL_ERROR "${SOURCE} has no expected output: ${EXPECTED} is missing")
endif()

file(REMOVE ${OUTPUT})
if(NOT DEFINED SUCCESS)
  set(SUCCESS "Convert success!")
endif()
execute_process(COMMAND ${VORPEX} -i ${SOURCE} -o ${OUTPUT} ${ARGS}
                RESULT_VARIABLE status OUTPUT_VARIABLE console ERROR_VARIABLE errors)
# (execute_process hands the console output over with its CRs removed.)
if(NOT status EQUAL 0 OR NOT console MATCHES "${SUCCESS}\r?\n$")
  message(FATAL_ERROR "vorpex failed on ${SOURCE} (status ${status}):\n${console}${errors}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${EXPECTED}
                RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  # Show both with their CR bytes made visible.
  file(READ ${OUTPUT} actual)
  file(READ ${EXPECTED} expected)
  string(REPLACE "\r" "<CR>" actual "${actual}")
  string(REPLACE "\r" "<CR>" expected "${expected}")
  message(FATAL_ERROR "${OUTPUT} differs from ${EXPECTED}\n"
                      "--- actual:\n${actual}\n--- expected:\n${expected}")
endif()
