# Cross build for Windows, 32-bit (x86) or 64-bit (x64) as the toolchain file
# says: the module, the stand-in shell and the Windows test programs, which
# CTest runs under wine of the same width.
enable_language(RC)

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# The one definition of the platform's name and of the module's file name;
# the code takes both from the generated header ivro_platform.h.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(IVRO_PLATFORM x64)
    set(IVRO_BITS 64)
    set(IVRO_WINEARCH win64)
    # Debian's wine script always starts the 32-bit loader when it is
    # installed; 64-bit programs and what they start take the 64-bit one.
    set(IVRO_WINE /usr/lib/wine/wine64)
    set(IVRO_WINELOADER_EXPORT "WINELOADER=${IVRO_WINE}\nexport WINELOADER\n")
else()
    set(IVRO_PLATFORM x86)
    set(IVRO_BITS 32)
    set(IVRO_WINEARCH win32)
    set(IVRO_WINE wine)
    set(IVRO_WINELOADER_EXPORT "")
endif()
# The oldest Windows the module runs on, which the README names: Windows XP,
# and for 64 bits its x64 edition, Windows 5.2. The headers are asked for that
# Windows alone, so that calling anything newer fails to build, and the
# module's header says it (operating system and subsystem version); the
# module_tables test checks every import against the headers again.
if(IVRO_PLATFORM STREQUAL x64)
    set(IVRO_OLDEST_WINDOWS 5.2)
else()
    set(IVRO_OLDEST_WINDOWS 5.1)
endif()
string(REPLACE . ";" ivro_windows_version ${IVRO_OLDEST_WINDOWS})
list(GET ivro_windows_version 0 ivro_windows_major)
list(GET ivro_windows_version 1 ivro_windows_minor)
math(EXPR IVRO_OLDEST_WINNT "(${ivro_windows_major} << 8) | ${ivro_windows_minor}" OUTPUT_FORMAT HEXADECIMAL)
set(IVRO_MODULE_DEFINITIONS _WIN32_WINNT=${IVRO_OLDEST_WINNT} WINVER=${IVRO_OLDEST_WINNT})
set(IVRO_MODULE_LINK_FLAGS -static
    -Wl,--major-os-version=${ivro_windows_major},--minor-os-version=${ivro_windows_minor}
    -Wl,--major-subsystem-version=${ivro_windows_major},--minor-subsystem-version=${ivro_windows_minor})
# The shipped module also loses its symbols and carries no time stamp (the
# linker would write the time of the link into its header and its export
# table), so that one commit always gives the same bytes.
set(IVRO_RELEASE_LINK_FLAGS ${IVRO_MODULE_LINK_FLAGS} -s -Wl,--no-insert-timestamp)
# ivro_module_name(PLATFORM OUT_VAR): the module's file name without ".dll".
function(ivro_module_name platform out_var)
    set(${out_var} Ivro-${platform} PARENT_SCOPE)
endfunction()
ivro_module_name(${IVRO_PLATFORM} IVRO_MODULE_NAME)
set(IVRO_MODULE_FILE ${IVRO_MODULE_NAME}.dll)
# The build folder of the other platform, when there is one: its module is
# handed to this build's shell, which must refuse it.
set(IVRO_OTHER_BUILD "" CACHE PATH "Build folder of the module's other platform (x86 or x64)")
# Where users report problems, set when a release is made: an e-mail address
# or a web address (http or https), which the module's record for the shell
# and the user's README give. Empty, the README tells users to report to
# whoever provided the archive. An address in a domain reserved for examples
# reaches nobody, and is refused.
set(IVRO_REPORT_ADDRESS "" CACHE STRING "Where users report problems: an e-mail or web address, or empty")
set(IVRO_REPORT_EMAIL "")
set(IVRO_REPORT_WEB "")
if(IVRO_REPORT_ADDRESS MATCHES "^https?://([^/:?#@]+)[^ \\\"]*$")
    set(IVRO_REPORT_WEB "${IVRO_REPORT_ADDRESS}")
    set(ivro_report_host "${CMAKE_MATCH_1}")
elseif(IVRO_REPORT_ADDRESS MATCHES "^[^ \\\"@/:]+@([^ \\\"@/:]+)$")
    set(IVRO_REPORT_EMAIL "${IVRO_REPORT_ADDRESS}")
    set(ivro_report_host "${CMAKE_MATCH_1}")
elseif(NOT IVRO_REPORT_ADDRESS STREQUAL "")
    message(FATAL_ERROR "IVRO_REPORT_ADDRESS is neither an e-mail address nor an http(s) address: ${IVRO_REPORT_ADDRESS}")
endif()
string(TOLOWER "${ivro_report_host}" ivro_report_host)
if(ivro_report_host MATCHES "\\.(example|invalid)\\.?$")
    message(FATAL_ERROR "IVRO_REPORT_ADDRESS ${IVRO_REPORT_ADDRESS} is in a domain that reaches nobody (.${CMAKE_MATCH_1})")
endif()
configure_file(cmake/ivro_platform.h.in ${CMAKE_BINARY_DIR}/generated/ivro_platform.h @ONLY)
include_directories(${CMAKE_BINARY_DIR}/generated)

set(IVRO_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
configure_file(cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

# Python runs the release's steps and the scripted tests: Debian's, ahead of
# any other on the path.
find_program(IVRO_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(IVRO_PYTHON3 python3 REQUIRED)

set(IVRO_WARNINGS -Wall -Wextra)
# The module is held to the core's warnings, and every function with external
# linkage is declared in a header first.
set(IVRO_MODULE_WARNINGS ${IVRO_CORE_WARNINGS} -Wmissing-declarations)

# ivro_def(SOURCE OUT_VAR): the module definition file to link with. The
# sources name each __stdcall export's symbol as x86 decorates it (Name@N);
# x64 has one calling convention and no decoration, so there the build links
# with a copy from which every @N is removed.
function(ivro_def source out_var)
    get_filename_component(source ${source} ABSOLUTE)
    if(IVRO_PLATFORM STREQUAL x86)
        set(${out_var} ${source} PARENT_SCOPE)
        return()
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(READ ${source} content)
    string(REGEX REPLACE "@[0-9]+" "" content "${content}")
    get_filename_component(name ${source} NAME)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${IVRO_PLATFORM}-${name})
    file(CONFIGURE OUTPUT ${out} CONTENT "${content}")
    set(${out_var} ${out} PARENT_SCOPE)
endfunction()

# The module imports the shell's operations through a library made from its
# own list of their names, not from the stand-in's build.
set(TAKECMD_IMPORT_LIB ${CMAKE_BINARY_DIR}/libTakeCmd-import.a)
ivro_def(plugin/TakeCmd-imports.def takecmd_import_def)
add_custom_command(OUTPUT ${TAKECMD_IMPORT_LIB}
    COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${takecmd_import_def} -l ${TAKECMD_IMPORT_LIB}
    DEPENDS ${takecmd_import_def}
    COMMENT "Import library for TakeCmd.dll")
add_custom_target(takecmd_import DEPENDS ${TAKECMD_IMPORT_LIB})

# The module: exports by plain name (Ivro.def), C and C++ runtimes linked in,
# so that it imports nothing but Windows and TakeCmd.dll.
set(IVRO_MODULE_SOURCES
    plugin/error.cpp
    plugin/help.cpp
    plugin/os.cpp
    plugin/plugin.cpp
    plugin/case.cpp
    plugin/shell_expansion.cpp
    plugin/usage.cpp
    escape/settings.cpp
    escape/shell_functions.cpp
    functions/compare.cpp
    functions/expecho.cpp
    functions/find.cpp
    functions/reading.cpp
    functions/write.cpp
)
ivro_def(Ivro.def IVRO_MODULE_DEF)
# The most stack, in bytes, that any export may take in the module's own
# frames (the module_stack test). Work areas larger than a shell buffer or
# two come from the scratch allocator (WithScratch in plugin/module.h).
set(IVRO_STACK_BUDGET 65536)
add_library(ivro SHARED ${IVRO_MODULE_SOURCES} ${IVRO_MODULE_DEF} plugin/Ivro.rc)
set_target_properties(ivro PROPERTIES OUTPUT_NAME ${IVRO_MODULE_NAME} PREFIX "")
target_include_directories(ivro PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(ivro PRIVATE ${IVRO_MODULE_DEFINITIONS})
target_compile_options(ivro PRIVATE ${IVRO_MODULE_WARNINGS} ${IVRO_MODULE_CODE_FLAGS})
target_link_libraries(ivro PRIVATE ivro_core ${TAKECMD_IMPORT_LIB})
target_link_options(ivro PRIVATE ${IVRO_RELEASE_LINK_FLAGS})
add_dependencies(ivro takecmd_import)

# GoogleTest for the Windows test programs, from the same Debian sources.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE ${IVRO_TEST_CODE_FLAGS})
target_compile_options(gtest_main PRIVATE ${IVRO_TEST_CODE_FLAGS})

# The folder of the help tests and the soak, beside a stand-in help viewer. A
# percent sign in its name, as any folder may have: the module must find its
# help beside itself there too.
set(IVRO_HELP_TEST_DIR ${CMAKE_BINARY_DIR}/help%test%)

add_subdirectory(shell)
add_subdirectory(tests/windows)
add_subdirectory(tests/e2e)
add_subdirectory(tests/help)
add_subdirectory(tests/faults)
add_subdirectory(tests/soak)
add_subdirectory(tests/native)
add_subdirectory(docs/help)
add_subdirectory(bench)
