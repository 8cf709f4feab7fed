# Native build: the escape core under AddressSanitizer and
# UndefinedBehaviorSanitizer, with GoogleTest built from Debian's sources.
option(IVRO_SANITIZE "Build the native tests with ASan and UBSan" ON)
if(IVRO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} googletest EXCLUDE_FROM_ALL)

add_subdirectory(tests/native)
