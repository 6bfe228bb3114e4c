# Runs the harvest into OUT and compares it byte for byte with EXPECTED.
execute_process(COMMAND ${HARVEST} ${OUT} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the harvest failed (${rc}): ${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${EXPECTED} RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
    message(FATAL_ERROR "${EXPECTED} is not what the forms and named strings give (see ${OUT}).\n"
                        "Regenerate it with: scripts/harvest-languages.sh <build dir>, "
                        "then bring every other language file up to date.")
endif()
