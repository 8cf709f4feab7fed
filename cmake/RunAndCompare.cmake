# Runs a program and compares what it wrote with expected files, byte for byte.
#
#   cmake -DCOMMAND=<;-list> -DWORKDIR=<dir> -DEXPECTED_STDOUT=<file>
#         [-DEXPECTED_STDERR=<file>] [-DEXPECTED_RESULT=<n>] [-DINPUT=<file>]
#         -DACTUAL_PREFIX=<path> -P RunAndCompare.cmake
#
# Standard output and standard error go to files (they may hold UTF-16, which
# CMake strings cannot), named ACTUAL_PREFIX.stdout and ACTUAL_PREFIX.stderr.
# Without EXPECTED_STDERR, standard error must be empty.
foreach(var COMMAND WORKDIR EXPECTED_STDOUT ACTUAL_PREFIX)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "RunAndCompare: ${var} is not set")
    endif()
endforeach()

set(actual_out "${ACTUAL_PREFIX}.stdout")
set(actual_err "${ACTUAL_PREFIX}.stderr")
set(input_args)
if(DEFINED INPUT)
    set(input_args INPUT_FILE "${INPUT}")
endif()
execute_process(COMMAND ${COMMAND}
    WORKING_DIRECTORY "${WORKDIR}"
    ${input_args}
    OUTPUT_FILE "${actual_out}"
    ERROR_FILE "${actual_err}"
    RESULT_VARIABLE result)

function(show_difference label expected actual)
    file(READ "${expected}" want HEX)
    file(READ "${actual}" got HEX)
    string(REGEX REPLACE "(..)" "\\1 " want "${want}")
    string(REGEX REPLACE "(..)" "\\1 " got "${got}")
    message("${label} differs from ${expected}\n  expected bytes: ${want}\n  actual bytes:   ${got}")
endfunction()

set(failed FALSE)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${EXPECTED_STDOUT}" "${actual_out}"
    RESULT_VARIABLE same_out OUTPUT_QUIET ERROR_QUIET)
if(NOT same_out EQUAL 0)
    show_difference("standard output" "${EXPECTED_STDOUT}" "${actual_out}")
    set(failed TRUE)
endif()

if(DEFINED EXPECTED_STDERR)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${EXPECTED_STDERR}" "${actual_err}"
        RESULT_VARIABLE same_err OUTPUT_QUIET ERROR_QUIET)
    if(NOT same_err EQUAL 0)
        show_difference("standard error" "${EXPECTED_STDERR}" "${actual_err}")
        set(failed TRUE)
    endif()
else()
    file(SIZE "${actual_err}" err_size)
    if(err_size GREATER 0)
        file(READ "${actual_err}" err_text)
        message("unexpected output on standard error:\n${err_text}")
        set(failed TRUE)
    endif()
endif()

if(DEFINED EXPECTED_RESULT AND NOT result STREQUAL EXPECTED_RESULT)
    message("exit code ${result}, expected ${EXPECTED_RESULT}")
    set(failed TRUE)
endif()

if(failed)
    message(FATAL_ERROR "output of ${COMMAND} is not as expected")
endif()
