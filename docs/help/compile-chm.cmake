# Compiles the help project into Ivro.chm.
#
#   cmake -DCHMCMD=<chmcmd> -DSOURCE_DIR=<dir> -DFILES=<name|name...> -DPROJECT_FILE=<name.hhp>
#         -DSTAGE_DIR=<dir> -DOUTPUT=<file.chm> -DPIN_TIME=<command;...> -DFILL=<command;...>
#         -P compile-chm.cmake
#
# chmcmd writes the compiled file into its working directory and reads the
# sources from there, so they are copied into a fresh stage directory first;
# FILL, run with that directory, fills the functions' lines into the copies.
# chmcmd may leave a half-written file behind and exit 0 after a warning
# (a page missing, a link to a page that does not exist): a warning fails the
# build, and so does a missing or empty result. chmcmd writes the time of day
# into its result; PIN_TIME, run with the result's path, replaces it by the
# release's. The result is copied to OUTPUT only when it is whole.
foreach(var CHMCMD SOURCE_DIR FILES PROJECT_FILE STAGE_DIR OUTPUT PIN_TIME FILL)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "compile-chm: ${var} is not set")
    endif()
endforeach()

string(REPLACE "|" ";" FILES "${FILES}")

# No stale file may stand in for a failed compilation.
file(REMOVE "${OUTPUT}")
file(REMOVE_RECURSE "${STAGE_DIR}")
file(MAKE_DIRECTORY "${STAGE_DIR}")
foreach(name IN LISTS FILES)
    file(COPY_FILE "${SOURCE_DIR}/${name}" "${STAGE_DIR}/${name}" RESULT copied)
    if(NOT copied EQUAL 0)
        message(FATAL_ERROR "compile-chm: cannot copy ${SOURCE_DIR}/${name}: ${copied}")
    endif()
endforeach()

execute_process(COMMAND ${FILL} "${STAGE_DIR}" RESULT_VARIABLE filled ERROR_VARIABLE fill_error)
if(NOT filled EQUAL 0)
    message(FATAL_ERROR "compile-chm: the functions' lines were not filled in: ${fill_error}")
endif()

# The name of the compiled file, as the project states it.
file(STRINGS "${SOURCE_DIR}/${PROJECT_FILE}" compiled REGEX "^Compiled file=")
string(REGEX REPLACE "^Compiled file=[ \t]*" "" compiled "${compiled}")
string(STRIP "${compiled}" compiled)
if(compiled STREQUAL "")
    message(FATAL_ERROR "compile-chm: ${PROJECT_FILE} names no compiled file")
endif()

execute_process(COMMAND "${CHMCMD}" "${PROJECT_FILE}"
    WORKING_DIRECTORY "${STAGE_DIR}"
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR output MATCHES "(Warning|Error|exception)")
    message(FATAL_ERROR "compile-chm: chmcmd failed (exit ${result}):\n${output}")
endif()

set(built "${STAGE_DIR}/${compiled}")
if(NOT EXISTS "${built}")
    message(FATAL_ERROR "compile-chm: chmcmd wrote no ${compiled}:\n${output}")
endif()
file(SIZE "${built}" size)
if(size EQUAL 0)
    message(FATAL_ERROR "compile-chm: ${compiled} is empty")
endif()

execute_process(COMMAND ${PIN_TIME} "${built}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "compile-chm: cannot set the time of ${compiled}")
endif()

file(COPY_FILE "${built}" "${OUTPUT}.part")
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
