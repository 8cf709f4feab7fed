# Checks that the module calls Windows for files, handles, processes, the
# environment and the system's folders only through its one seam. Every
# symbol an object of the module takes from outside the module's own objects
# is told apart by where the linked module gets it, which its import table
# says name by name:
# - from TakeCmd.dll: the shell's operations (plugin/host.h); any of them;
# - from msvcrt.dll, or from none (linked in from the toolchain's static
#   libraries, libmingwex and libgcc): the C runtime, of which only the
#   functions of `runtime_allowed` below;
# - from any other library: Windows. The seam's object (plugin/os.cpp)
#   imports every function that plugin/os.h lists; no other object
#   imports one of those, nor any Windows function but the few of
#   `windows_allowed` below.
# A call shows as an undefined symbol whether its declaration says dllimport
# (__imp_Name; on x86 __imp__Name@N) or not (Name; on x86 _Name@N), so a
# Windows function declared by hand is caught as well.
#   cmake -DNM=<nm> -DOBJDUMP=<objdump> -DMODULE=<the linked dll>
#         -DOBJECTS=<its objects, a list> -DHEADER=<plugin/os.h> -P CheckSeam.cmake
cmake_minimum_required(VERSION 3.25)

# The Windows functions left outside the seam on purpose.
set(windows_allowed
    # The missing-help box (plugin/help.cpp): a help request returns 1
    # whether the box shows or not, and the help tests read the box back
    # from the screen.
    MessageBoxW GetForegroundWindow
    # Cannot fail: the OEM code page, @expwrite's last choice of encoding.
    GetOEMCP
    # Change nothing a script sees but the module's own buffer: case mapping
    # in place (plugin/case.cpp, the help box's module name) and formatting
    # a number or a message into it.
    CharUpperW CharUpperBuffW CharLowerBuffW wsprintfW)

# The C runtime's functions the module may call: each reads and writes only
# memory the module hands it, and none reaches a file, a handle, the
# environment or a process (the runtime's _wfopen, _wgetenv, _wsystem,
# _wspawn... are Windows calls by another road). The optimiser inlines some
# of them or turns loops into calls of others, so the list holds what any
# build type of either width takes (a Debug build also takes iswalpha,
# iswcntrl, strlen, wmemcpy and wmemmove).
set(runtime_allowed
    # Text and memory.
    memcmp memcpy memmove memset strcmp strlen strnlen wmemcpy wmemmove
    wcscat wcschr wcscmp wcscpy wcscspn _wcsicmp wcslen wcsncpy wcsnlen wcsrchr wcsspn
    # Characters and numbers.
    iswalpha iswcntrl iswctype iswspace towlower towupper wcstoul
    # The heap: the engine's scratch blocks (escape/scratch.cpp).
    malloc free
    # The compiler's own helpers: the stack probe of a frame larger than a
    # page (x64 spells it with one more underscore), x86's 64-bit division,
    # and the processor's features for __builtin_cpu_supports.
    __chkstk_ms ___chkstk_ms __divdi3 __udivdi3 __cpu_indicator_init __cpu_model)

file(READ ${HEADER} header)
string(REGEX MATCHALL "\n    X\\([A-Za-z]+\\)" listed "${header}")
list(TRANSFORM listed REPLACE "\n    X\\(([A-Za-z]+)\\)" "\\1")
list(LENGTH listed count)
if(count LESS 10)
    message(FATAL_ERROR "${HEADER} lists ${count} operations: the check no longer reads the list")
endif()

# The module's imports, library by library: "DLL Name: X", then one line per
# name. dll_<name> is the library a name comes from.
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "objdump failed on ${MODULE}")
endif()
if(dump MATCHES "file format pei-i386")
    set(x86 TRUE)
elseif(dump MATCHES "file format pei-x86-64")
    set(x86 FALSE)
else()
    message(FATAL_ERROR "${MODULE} is neither a 32-bit nor a 64-bit Windows module")
endif()
set(library "")
string(REPLACE "\n" ";" dump_lines "${dump}")
foreach(line IN LISTS dump_lines)
    if(line MATCHES "^[ \t]*DLL Name: (.+)$")
        string(STRIP "${CMAKE_MATCH_1}" library)
    elseif(line MATCHES "^[ \t]*$")
        set(library "")
    elseif(library AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+ +([A-Za-z_][A-Za-z0-9_]*)$")
        set(dll_${CMAKE_MATCH_1} ${library})
    endif()
endforeach()

# The symbols the objects define (defined), and those the i-th object takes
# from elsewhere (undefined_<i>), as nm prints them.
list(LENGTH OBJECTS object_count)
if(object_count EQUAL 0)
    message(FATAL_ERROR "no objects to check")
endif()
math(EXPR last "${object_count} - 1")
set(defined)
foreach(i RANGE ${last})
    list(GET OBJECTS ${i} object)
    execute_process(COMMAND ${NM} -g ${object} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "nm failed on ${object}")
    endif()
    string(REGEX MATCHALL "\n *[Uw] [^\n]+" taken "\n${symbols}")
    list(TRANSFORM taken REPLACE "^\n *[Uw] " "")
    set(undefined_${i} ${taken})
    string(REGEX MATCHALL "\n[0-9a-f]+ [A-Z] [^\n]+" given "\n${symbols}")
    list(TRANSFORM given REPLACE "^\n[0-9a-f]+ [A-Z] " "")
    list(APPEND defined ${given})
endforeach()

# c_name(SYMBOL OUT_VAR): the name the C code calls, without the import
# prefix and, on x86, without the leading underscore and the stdcall @N.
# (MATCHES, not REGEX REPLACE, whose ^ matches again after each replacement.)
function(c_name symbol out_var)
    set(name "${symbol}")
    if(name MATCHES "^__imp_(.+)$")
        set(name "${CMAKE_MATCH_1}")
    endif()
    if(x86 AND name MATCHES "^_([^@]+)(@[0-9]+)?$")
        set(name "${CMAKE_MATCH_1}")
    endif()
    set(${out_var} ${name} PARENT_SCOPE)
endfunction()

set(seam_seen FALSE)
foreach(i RANGE ${last})
    list(GET OBJECTS ${i} object)
    cmake_path(NORMAL_PATH object)
    set(names)
    foreach(symbol IN LISTS undefined_${i})
        if(NOT symbol IN_LIST defined)
            c_name(${symbol} name)
            list(APPEND names ${name})
        endif()
    endforeach()
    list(REMOVE_DUPLICATES names)
    list(SORT names)
    if(object MATCHES "/plugin/os\\.cpp\\.obj$")
        set(seam_seen TRUE)
        foreach(name IN LISTS listed)
            if(NOT name IN_LIST names)
                message(SEND_ERROR "the seam does not call ${name}, which plugin/os.h lists")
            elseif("${dll_${name}}" STREQUAL "" OR "${dll_${name}}" MATCHES "^(TakeCmd|msvcrt)\\.dll$")
                message(SEND_ERROR "${MODULE} does not import the seam's ${name} from a Windows library: "
                                   "the check can no longer tell Windows functions from the rest")
            endif()
        endforeach()
        continue()
    endif()
    foreach(name IN LISTS names)
        set(library "${dll_${name}}")
        if(library STREQUAL "TakeCmd.dll")
            continue()
        elseif(library STREQUAL "" OR library STREQUAL "msvcrt.dll")
            if(NOT name IN_LIST runtime_allowed)
                if(library STREQUAL "")
                    set(library "the toolchain's static libraries")
                endif()
                message(SEND_ERROR "${object} calls the C runtime's ${name} (${library}), "
                                   "which is not among the runtime functions the module may call (cmake/CheckSeam.cmake)")
            endif()
        elseif(name IN_LIST listed)
            message(SEND_ERROR "${object} calls ${name} past the seam (plugin/os.h)")
        elseif(NOT name IN_LIST windows_allowed)
            message(SEND_ERROR "${object} calls the Windows function ${name} (${library}) outside the seam, "
                               "and it is not among those left outside on purpose (cmake/CheckSeam.cmake)")
        endif()
    endforeach()
endforeach()
if(NOT seam_seen)
    message(FATAL_ERROR "no object of the seam among ${OBJECTS}")
endif()
