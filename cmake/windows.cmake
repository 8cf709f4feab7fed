# Cross build for 32-bit Windows: the module, the stand-in shell and the
# Windows test programs, which CTest runs under wine.
enable_language(RC)

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

set(IVRO_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
configure_file(cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

set(IVRO_WARNINGS -Wall -Wextra)

# The module imports the shell's operations through a library made from its
# own list of their names, not from the stand-in's build.
set(TAKECMD_IMPORT_LIB ${CMAKE_BINARY_DIR}/libTakeCmd-import.a)
add_custom_command(OUTPUT ${TAKECMD_IMPORT_LIB}
    COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${CMAKE_SOURCE_DIR}/plugin/TakeCmd.def -l ${TAKECMD_IMPORT_LIB}
    DEPENDS ${CMAKE_SOURCE_DIR}/plugin/TakeCmd.def
    COMMENT "Import library for TakeCmd.dll")
add_custom_target(takecmd_import DEPENDS ${TAKECMD_IMPORT_LIB})

# The module: 32-bit, exports by plain name (Ivro.def), C and C++ runtimes
# linked in, so that it imports nothing but Windows and TakeCmd.dll.
set(IVRO_MODULE_SOURCES
    plugin/error.cpp
    plugin/help.cpp
    plugin/plugin.cpp
    plugin/shell.cpp
    escape/settings.cpp
    escape/shell_functions.cpp
    functions/compare.cpp
    functions/expecho.cpp
    functions/find.cpp
    functions/reading.cpp
    functions/write.cpp
)
add_library(ivro SHARED ${IVRO_MODULE_SOURCES} Ivro.def plugin/Ivro.rc)
set_target_properties(ivro PROPERTIES OUTPUT_NAME Ivro-x86 PREFIX "")
target_include_directories(ivro PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(ivro PRIVATE ${IVRO_WARNINGS})
target_link_libraries(ivro PRIVATE ivro_core ${TAKECMD_IMPORT_LIB})
target_link_options(ivro PRIVATE -static -s)
add_dependencies(ivro takecmd_import)

# GoogleTest for the Windows test programs, from the same Debian sources.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} googletest EXCLUDE_FROM_ALL)

add_subdirectory(shell)
add_subdirectory(tests/windows)
add_subdirectory(tests/e2e)
add_subdirectory(tests/help)
add_subdirectory(tests/alloc)
add_subdirectory(tests/soak)
add_subdirectory(docs/help)
add_subdirectory(bench)
