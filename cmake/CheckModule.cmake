# Checks the built module's import and export tables with objdump -p: it may
# import only Windows' own libraries and TakeCmd.dll (so it loads in a shell
# with nothing beside it), none of the threads runtime's calls (which would
# take a TLS slot and handles at every load and keep them after unloading),
# and it must export every name of its .def plainly.
#   cmake -DOBJDUMP=<objdump> -DMODULE=<dll> -DDEF=<Ivro.def> -P CheckModule.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "objdump failed on ${MODULE}")
endif()

set(allowed KERNEL32.dll USER32.dll msvcrt.dll TakeCmd.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(line IN LISTS imports)
    string(REGEX REPLACE "DLL Name: " "" name "${line}")
    string(STRIP "${name}" name)
    if(NOT name IN_LIST allowed)
        message(SEND_ERROR "the module imports ${name}")
    endif()
endforeach()

foreach(name TlsAlloc CreateThread _beginthreadex CreateSemaphoreA CreateSemaphoreW)
    if(dump MATCHES "[ \t]${name}\n")
        message(SEND_ERROR "the module imports ${name}: the threads runtime is linked in")
    endif()
endforeach()

string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
string(SUBSTRING "${dump}" ${start} -1 table)
string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]+" exported "${table}")
list(TRANSFORM exported REPLACE "^\n\t\\[ *[0-9]+\\] " "")
file(STRINGS ${DEF} def_lines REGEX "^[ \t]+[A-Za-z_][A-Za-z0-9_]* = ")
foreach(line IN LISTS def_lines)
    string(REGEX REPLACE "^[ \t]+([A-Za-z_][A-Za-z0-9_]*) = .*" "\\1" name "${line}")
    if(NOT name IN_LIST exported)
        message(SEND_ERROR "${name} is not exported under its plain name")
    endif()
endforeach()
foreach(name IN LISTS exported)
    if(name MATCHES "@")
        message(SEND_ERROR "decorated export ${name}")
    endif()
endforeach()
list(LENGTH exported count)
message(STATUS "${count} exports, imports: ${imports}")
