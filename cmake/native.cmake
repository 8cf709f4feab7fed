# Native build: the portable core under AddressSanitizer and
# UndefinedBehaviorSanitizer (or ThreadSanitizer), with Debian's GoogleTest;
# or, with IVRO_FUZZ, the libFuzzer targets (clang).
option(IVRO_FUZZ "Build the libFuzzer targets instead of the unit tests" OFF)
set(IVRO_FUZZ_SECONDS 10 CACHE STRING "How long each fuzz target runs as a test")

# A plain optimised build (no sanitizers) for the benchmarks.
option(IVRO_BENCH "Build the native benchmarks" OFF)
if(IVRO_BENCH)
    add_subdirectory(bench)
    return()
endif()

# Compile options for the targets made from here on and for the core library,
# which is made before this file is read (add_compile_options alone would
# leave it out).
macro(ivro_native_compile_options)
    add_compile_options(${ARGN})
    target_compile_options(ivro_core PRIVATE ${ARGN})
endmacro()

if(IVRO_FUZZ)
    ivro_native_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                                -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
    add_subdirectory(fuzz)
    return()
endif()

# The sanitizers of the native tests: ASan and UBSan, or ThreadSanitizer
# (-DIVRO_SANITIZERS=thread, build/native-tsan), which cannot share a program
# with ASan.
option(IVRO_SANITIZE "Build the native tests with sanitizers" ON)
set(IVRO_SANITIZERS "address,undefined" CACHE STRING "The sanitizers (-fsanitize=) of the native tests")
if(IVRO_SANITIZE)
    ivro_native_compile_options(-fsanitize=${IVRO_SANITIZERS} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${IVRO_SANITIZERS})
endif()

# The unit tests also make the core's heap allocations fail on purpose.
target_compile_definitions(ivro_core PUBLIC IVRO_ALLOC_TESTING)

# Debian's prebuilt GoogleTest (libgtest-dev): the sanitizers need only the
# code under test instrumented.
find_package(GTest REQUIRED)

add_subdirectory(tests/native)

# The tables the user's documents copy from the code (the named escapes, the
# bits of Ivro_Flags, the places of the help file and of its viewer) against
# the code's own.
find_program(IVRO_PYTHON3 python3 REQUIRED)
add_test(NAME doc_tables COMMAND ${IVRO_PYTHON3} ${CMAKE_SOURCE_DIR}/docs/help/check_tables.py --source ${CMAKE_SOURCE_DIR})

# The lists of the module's functions that stay written out (Ivro.def, the
# plug-in test's own list, the READMEs' links, the example) against the table
# of functions, plugin/functions.h.
add_test(NAME function_lists COMMAND ${IVRO_PYTHON3} ${CMAKE_SOURCE_DIR}/scripts/function_lists.py --source ${CMAKE_SOURCE_DIR})

# Every text of the tree that shows the version (READMEs, help pages, expected
# outputs, tests) against plugin/version.h.
add_test(NAME version_copies
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_SOURCE_DIR} -DVERSION=${PROJECT_VERSION}
            -P ${CMAKE_SOURCE_DIR}/cmake/CheckVersion.cmake)
