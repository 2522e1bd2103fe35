# Runs orogrid-config-report twice: once writing a report into the build
# tree (which must succeed and hold the components' rows), once at a path in
# a folder that does not exist (which must fail with the system's reason).
# Variables: TOOL (the program), EMULATOR (may be empty), OUT (report path).
set(run ${EMULATOR} ${TOOL})

file(REMOVE ${OUT})
execute_process(COMMAND ${run} ${OUT} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "report run failed (${rc}): ${err}")
endif()
file(READ ${OUT} report)
foreach(expected
    "Quorlan Solutions Ltd. Configuration Control[KT0103] Version 2.3  Report: "
    "TextFunctions |              KT3102:01 |                 TextFunctions |       1.14 | "
    "ConfigControl |              KT3103:05 |                 ConfigControl |        1.5 | "
    "KT_ErrorReport |              KT2104:01 |                KT_ErrorReport |        1.2 | "
    "BaseSharedMemory |              KT2082:01 |              BaseSharedMemory |        1.7 | "
    "KT-P-0001-02 |      KT-P-0001-02-1200 |                   BaseDisplay |        1.9 | ")
  string(FIND "${report}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "report lacks \"${expected}\":\n${report}")
  endif()
endforeach()

get_filename_component(dir ${OUT} DIRECTORY)
execute_process(COMMAND ${run} ${dir}/no-such-folder/report.txt RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err MATCHES "cannot write \"[^\"]*report.txt\": [A-Za-z]")
  message(FATAL_ERROR "unopenable path gave ${rc}: ${err}")
endif()
