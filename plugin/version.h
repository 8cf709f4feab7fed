// Version numbers of the module, defined once: the code and the resource take
// them from here, and the build reads the four numbers below for its own
// version (CMakeLists.txt), which names the release archives. The texts that
// show them (READMEs, help pages, expected outputs, tests) are held to them
// by the version_copies test (cmake/CheckVersion.cmake).
#pragma once

// IVRO_PLATFORM ("x86", "x64") and IVRO_FILE_NAME, from the build.
#include "ivro_platform.h"

#define IVRO_NAME "Ivro"

// File and product version, MAJOR.MINOR.BUILD.REVISION; the record the shell
// reads carries the first three numbers as major, minor and build.
#define IVRO_VERSION_MAJOR 0
#define IVRO_VERSION_MINOR 60
#define IVRO_VERSION_BUILD 0
#define IVRO_VERSION_REVISION 5

#define IVRO_STRINGIFY_(x) #x
#define IVRO_STRINGIFY(x) IVRO_STRINGIFY_(x)
#define IVRO_VERSION_TEXT                                                        \
    IVRO_STRINGIFY(IVRO_VERSION_MAJOR) "." IVRO_STRINGIFY(IVRO_VERSION_MINOR) "." \
    IVRO_STRINGIFY(IVRO_VERSION_BUILD) "." IVRO_STRINGIFY(IVRO_VERSION_REVISION)

// The value of the internal variable _ivrover, which has its own numbering.
#define IVRO_VARIABLE_VERSION "1.1.6.1"
