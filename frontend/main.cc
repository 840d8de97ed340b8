// zov-ar, zov-nm and zov-ranlib: this one source is compiled once per
// program, each time with that program's constants on the command line.
// The entry point that hands them to the driver is the system's own
// (frontend/entry_posix.cc, entry_windows.cc).

#include "frontend/frontend.h"

#ifndef CONFIG_TARGET
#error "build through zov_add_frontend_program, which defines the program's constants"
#endif

extern const frontend_program frontend_this_program = {
    .target = CONFIG_TARGET,
    .version = CONFIG_VERSION,
    .bindir = CONFIG_BINDIR,
    .libdir = CONFIG_LIBDIR,
    .libexecdir = CONFIG_LIBEXECDIR,
    .wrapped_tool = ZOV_WRAPPED_TOOL,
    .installed_name = ZOV_INSTALLED_NAME,
    .dash_first_argument = ZOV_DASH_FIRST_ARGUMENT,
    .tool_dir_below_libdir =
        CONFIG_TARGET "/" CONFIG_VERSION "/" "../../../../" CONFIG_TARGET "/" "bin/",
    .plugin_dir_below_libexecdir = CONFIG_TARGET "/" CONFIG_VERSION "/",
    .package_version = ZOV_PACKAGE_VERSION,
    .plugin_name = ZOV_PLUGIN_NAME,
};
