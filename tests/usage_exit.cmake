# A command line brimvale-sim cannot use ends with exit status 2 and the
# usage line, as with any tool. Run by ctest with -DEMULATOR=<cross emulator
# or empty> -DPROGRAM=<brimvale-sim>.
foreach(args "run" "run;only-one-file.tap" "frobnicate" "run;--no-such-flag;a;b" "check")
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${args} RESULT_VARIABLE status OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT status EQUAL 2)
    message(FATAL_ERROR "brimvale-sim ${args}: exit status ${status}, not 2\n${err}")
  endif()
  if(NOT err MATCHES "usage: brimvale-sim run ")
    message(FATAL_ERROR "brimvale-sim ${args}: no usage line in\n${err}")
  endif()
endforeach()
