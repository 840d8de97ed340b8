// zov-ar, zov-nm and zov-ranlib: this one source is compiled once per
// program, each time with that program's constants on the command line.

#include "frontend/frontend.h"

#ifndef CONFIG_TARGET
#error "build through zov_add_frontend_program, which defines the program's constants"
#endif

static const frontend_program program = {
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
};

int main(int argc, char **argv) { return frontend_main(&program, argc, argv); }
