# Checks the built module's headers and its import and export tables with
# objdump -p:
# - it imports only Windows' own libraries and TakeCmd.dll (so it loads in a
#   shell with nothing beside it), and none of the threads runtime's calls
#   (which would take a TLS slot and handles at every load and keep them
#   after unloading);
# - each import from Windows is one that the compiler's headers declare for
#   the oldest Windows the module is for (WINNT, as _WIN32_WINNT), and the
#   header's operating system and subsystem versions name that Windows;
# - it exports every name of its .def plainly (when DEF is given).
#   cmake -DOBJDUMP=<objdump> -DCC=<C compiler> -DWINNT=<0x501> -DWORK=<folder>
#         -DMODULE=<dll> [-DDEF=<Ivro.def>] -P CheckModule.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "objdump failed on ${MODULE}")
endif()

# The imports, library by library: "DLL Name: X" and then one line per name.
set(allowed KERNEL32.dll USER32.dll msvcrt.dll TakeCmd.dll)
set(windows_imports)
set(library "")
string(REPLACE "\n" ";" dump_lines "${dump}")
foreach(line IN LISTS dump_lines)
    if(line MATCHES "^[ \t]*DLL Name: (.+)$")
        string(STRIP "${CMAKE_MATCH_1}" library)
        if(NOT library IN_LIST allowed)
            message(SEND_ERROR "the module imports ${library}")
        endif()
    elseif(line MATCHES "^[ \t]*$")
        set(library "")
    elseif(library AND NOT library STREQUAL "TakeCmd.dll" AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+ +([A-Za-z_][A-Za-z0-9_]*)$")
        list(APPEND windows_imports ${CMAKE_MATCH_1})
    endif()
endforeach()
if(NOT windows_imports)
    message(FATAL_ERROR "no imports from Windows found in ${MODULE}")
endif()

foreach(name TlsAlloc CreateThread _beginthreadex CreateSemaphoreA CreateSemaphoreW)
    if(name IN_LIST windows_imports)
        message(SEND_ERROR "the module imports ${name}: the threads runtime is linked in")
    endif()
endforeach()

# The runtime's start-up code calls these, which no public header declares;
# msvcrt.dll has exported them since long before Windows XP.
set(runtime_internals _amsg_exit _initterm _lock _unlock)

# undeclared(WINNT OUT NAMES...): those of NAMES that the headers do not
# declare when asked for the Windows WINNT. Each name's address is taken in
# one C file; the compiler names each undeclared one.
function(undeclared winnt out)
    set(source "${WORK}/imports-${winnt}.c")
    set(text "#include <windows.h>\n#include <stdio.h>\n#include <stdlib.h>\n#include <string.h>\n#include <wchar.h>\n#include <wctype.h>\n")
    string(APPEND text "void *import_address(int i);\nvoid *import_address(int i)\n{\n    switch (i) {\n")
    set(i 0)
    foreach(name IN LISTS ARGN)
        string(APPEND text "    case ${i}: return (void *)&${name};\n")
        math(EXPR i "${i} + 1")
    endforeach()
    string(APPEND text "    }\n    return 0;\n}\n")
    file(WRITE "${source}" "${text}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${CC} -D_WIN32_WINNT=${winnt} -DWINVER=${winnt} -fsyntax-only "${source}"
                    RESULT_VARIABLE failed ERROR_VARIABLE errors)
    string(REPLACE ";" "," errors "${errors}")
    string(REGEX MATCHALL "error: [^\n]*" messages "${errors}")
    set(names)
    foreach(message IN LISTS messages)
        if(message MATCHES "^error: .([A-Za-z_][A-Za-z0-9_]*). undeclared")
            list(APPEND names ${CMAKE_MATCH_1})
        else()
            message(FATAL_ERROR "${CC} on the imports: ${message}")
        endif()
    endforeach()
    if(failed AND NOT names)
        message(FATAL_ERROR "${CC} failed on the imports:\n${errors}")
    endif()
    set(${out} ${names} PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY "${WORK}")
undeclared(${WINNT} hidden ${windows_imports})
if(hidden)
    # Declared for the newest Windows but not for the oldest: newer than it.
    undeclared(0xA00 nowhere ${hidden})
    foreach(name IN LISTS hidden)
        if(NOT name IN_LIST nowhere)
            message(SEND_ERROR "${name}: declared only for a newer Windows than ${WINNT}")
        elseif(NOT name IN_LIST runtime_internals)
            message(SEND_ERROR "${name}: declared by no header, and not among the runtime's own imports")
        endif()
    endforeach()
endif()

math(EXPR major "${WINNT} >> 8")
math(EXPR minor "${WINNT} & 255")
foreach(field OSystem Subsystem)
    if(NOT dump MATCHES "Major${field}Version\t+${major}\n" OR NOT dump MATCHES "Minor${field}Version\t+${minor}\n")
        string(REGEX MATCH "Major${field}Version[^\n]*\nMinor${field}Version[^\n]*" found "${dump}")
        message(SEND_ERROR "the header's ${field} version is not ${major}.${minor}: ${found}")
    endif()
endforeach()

if(DEF)
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
endif()
list(LENGTH windows_imports count)
message(STATUS "${count} imports from Windows, all declared for Windows ${major}.${minor}: ${windows_imports}")
