# The version copies test: plugin/version.h defines the version numbers once,
# and every text that shows them (the READMEs, the help pages, the expected
# outputs of the tests, the tests themselves) must show those. Fails naming
# each file that shows another version, and what it shows.
#   cmake -DSOURCE=<source tree> -DVERSION=<a.b.c.d> -P CheckVersion.cmake
#
# Where a version stands:
#   - four numbers, a.b.c.d: the module file's version or the version of
#     _ivrover (IVRO_VARIABLE_VERSION); nothing else in the tree has that form.
#     A copy is the module file's where "Ivro" stands right before it (the
#     archives' names, "Ivro a.b.c.d" of CHANGES and of expecho /??) or its
#     line names the file's version (FileVersion, ProductVersion, "module
#     file", "full version", "own version"); any other is _ivrover's. Each
#     copy is held to its own version, so that the two swapped fail;
#   - "Ivro va.b.c": the load message, the first three numbers;
#   - CHANGES: only its first line, the release being made; the lines below
#     record earlier releases.
# bench/ is left out: its results record the version they were measured on.

# VERSION is the module's version as the build read it from the header;
# _ivrover's is read here, the one place that needs it.
string(REPLACE . ";" numbers "${VERSION}")
list(LENGTH numbers count)
if(NOT count EQUAL 4)
    message(FATAL_ERROR "VERSION must be four numbers a.b.c.d: ${VERSION}")
endif()
set(full ${VERSION})
list(SUBLIST numbers 0 3 first_three)
list(JOIN first_three . short)
set(header ${SOURCE}/plugin/version.h)
file(STRINGS ${header} define REGEX "^#define[ \t]+IVRO_VARIABLE_VERSION[ \t]+\"[0-9.]+\"")
if(NOT define MATCHES "IVRO_VARIABLE_VERSION[ \t]+\"([0-9.]+)\"")
    message(FATAL_ERROR "${header} defines no IVRO_VARIABLE_VERSION")
endif()
set(variable ${CMAKE_MATCH_1})

# The tree's own folders, never a build folder (whatever its name) nor bench/.
set(patterns *.md *.txt *.html *.hh? *.stdout *.stderr *.btm *.cpp *.h *.c *.py *.sh *.rc *.cmake *.in)
file(GLOB files LIST_DIRECTORIES false RELATIVE ${SOURCE} ${SOURCE}/*)
file(GLOB folders LIST_DIRECTORIES true RELATIVE ${SOURCE} ${SOURCE}/*)
foreach(folder ${folders})
    if(NOT IS_DIRECTORY ${SOURCE}/${folder} OR folder MATCHES "^(build.*|bench|\\..*)$"
       OR EXISTS ${SOURCE}/${folder}/CMakeCache.txt)
        continue()
    endif()
    list(TRANSFORM patterns PREPEND ${SOURCE}/${folder}/ OUTPUT_VARIABLE globs)
    file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${SOURCE} ${globs})
    list(APPEND files ${found})
endforeach()
list(FILTER files EXCLUDE REGEX "^(LICENSE|.*\\.png|.*\\.csv)$")
list(REMOVE_ITEM files plugin/version.h)

set(wrong)
set(copies 0)
foreach(file ${files})
    if(file STREQUAL "CHANGES")
        file(STRINGS ${SOURCE}/${file} lines LIMIT_COUNT 1)
    else()
        file(STRINGS ${SOURCE}/${file} lines REGEX "[0-9]+\\.[0-9]+\\.[0-9]+")
    endif()
    set(found FALSE)
    foreach(line IN LISTS lines)
        string(REGEX MATCHALL "(Ivro[- ]+)?[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+" fours "${line}")
        foreach(copy ${fours})
            set(found TRUE)
            string(REGEX MATCH "[0-9.]+$" version "${copy}")
            if(copy MATCHES "^Ivro" OR line MATCHES "FileVersion|ProductVersion|module file|full version|own version")
                if(NOT version STREQUAL full)
                    list(APPEND wrong "${file}: ${version} as the module file's version, not ${full}")
                endif()
            elseif(NOT version STREQUAL variable)
                list(APPEND wrong "${file}: ${version} as the version of _ivrover, not ${variable}")
            endif()
        endforeach()
        string(REGEX MATCHALL "Ivro v[0-9]+\\.[0-9]+\\.[0-9]+" loads "${line}")
        foreach(load ${loads})
            set(found TRUE)
            if(NOT load STREQUAL "Ivro v${short}")
                list(APPEND wrong "${file}: \"${load}\", not \"Ivro v${short}\"")
            endif()
        endforeach()
    endforeach()
    if(found)
        math(EXPR copies "${copies} + 1")
    endif()
endforeach()

if(copies EQUAL 0)
    message(FATAL_ERROR "no file under ${SOURCE} shows a version: the search is broken")
endif()
if(wrong)
    list(REMOVE_DUPLICATES wrong)
    list(JOIN wrong "\n  " listed)
    message(FATAL_ERROR "plugin/version.h says ${full} (${short} in the load message), but\n  ${listed}")
endif()
message(STATUS "${copies} files show the versions of plugin/version.h, each where it belongs: the module file's ${full}, _ivrover's ${variable}")
