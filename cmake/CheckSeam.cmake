# Checks that the module calls Windows for files, handles, processes, the
# environment and the system's folders only through its one seam: no object
# of the module but the seam's own imports a function that plugin/platform.h
# lists, and the seam's object imports every one (so that the check itself
# sees them).
#   cmake -DNM=<nm> -DOBJECTS=<folder of the module's objects> -DHEADER=<plugin/platform.h> -P CheckSeam.cmake
cmake_minimum_required(VERSION 3.25)

file(READ ${HEADER} header)
string(REGEX MATCHALL "\n    X\\([A-Za-z]+\\)" listed "${header}")
list(TRANSFORM listed REPLACE "\n    X\\(([A-Za-z]+)\\)" "\\1")
list(LENGTH listed count)
if(count LESS 10)
    message(FATAL_ERROR "${HEADER} lists ${count} operations: the check no longer reads the list")
endif()

# The symbols an object takes from other files: for a call into a Windows
# library, __imp_Name (x64) or __imp__Name@N (x86).
function(imports object out_var)
    execute_process(COMMAND ${NM} -u ${object} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "nm failed on ${object}")
    endif()
    string(REGEX MATCHALL "__imp__?[A-Za-z]+" names "${symbols}")
    list(TRANSFORM names REPLACE "^__imp__?" "")
    set(${out_var} ${names} PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE objects ${OBJECTS}/*.obj)
set(seam_seen FALSE)
foreach(object IN LISTS objects)
    imports(${object} names)
    if(object MATCHES "/plugin/platform\\.cpp\\.obj$")
        set(seam_seen TRUE)
        foreach(name IN LISTS listed)
            if(NOT name IN_LIST names)
                message(SEND_ERROR "the seam does not call ${name}, which plugin/platform.h lists")
            endif()
        endforeach()
        continue()
    endif()
    foreach(name IN LISTS listed)
        if(name IN_LIST names)
            message(SEND_ERROR "${object} calls ${name} past the seam (plugin/platform.h)")
        endif()
    endforeach()
endforeach()
if(NOT seam_seen)
    message(FATAL_ERROR "no object of the seam among ${OBJECTS}")
endif()
