# Runs a program and compares what it wrote with expected files, byte for byte.
#
#   cmake -DCOMMAND=<;-list> -DWORKDIR=<dir> -DEXPECTED_STDOUT=<file>
#         [-DEXPECTED_STDERR=<file>] [-DEXPECTED_RESULT=<n>] [-DINPUT=<file>]
#         [-DPLATFORM=<x86|x64>] -DACTUAL_PREFIX=<path> -P RunAndCompare.cmake
#
# Standard output and standard error go to files (they may hold UTF-16, which
# CMake strings cannot), named ACTUAL_PREFIX.stdout and ACTUAL_PREFIX.stderr.
# Without EXPECTED_STDERR, standard error must be empty. The expected files
# are written for the 32-bit module: with PLATFORM, each "(x86)" in them (the
# platform in the version line) stands for "(PLATFORM)".
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

# The bytes of a file as hexadecimal pairs, each followed by a blank, so that
# a replacement can only match whole bytes.
function(read_bytes file out_var)
    file(READ "${file}" hex HEX)
    string(REGEX REPLACE "(..)" "\\1 " hex "${hex}")
    set(${out_var} "${hex}" PARENT_SCOPE)
endfunction()

function(bytes_of_text text out_var)
    string(HEX "${text}" hex)
    string(REGEX REPLACE "(..)" "\\1 " hex "${hex}")
    set(${out_var} "${hex}" PARENT_SCOPE)
endfunction()

# Sets `failed` in the caller when `actual` differs from `expected`.
function(compare label expected actual)
    read_bytes("${expected}" want)
    read_bytes("${actual}" got)
    if(DEFINED PLATFORM)
        bytes_of_text("(x86)" written)
        bytes_of_text("(${PLATFORM})" meant)
        string(REPLACE "${written}" "${meant}" want "${want}")
    endif()
    if(NOT want STREQUAL got)
        message("${label} differs from ${expected}\n  expected bytes: ${want}\n  actual bytes:   ${got}")
        set(failed TRUE PARENT_SCOPE)
    endif()
endfunction()

set(failed FALSE)
compare("standard output" "${EXPECTED_STDOUT}" "${actual_out}")

if(DEFINED EXPECTED_STDERR)
    compare("standard error" "${EXPECTED_STDERR}" "${actual_err}")
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
