// The front-end driver shared by zov-ar, zov-nm and zov-ranlib.
//
// One run: settle the library and libexec directories (relocated when the
// install tree has moved), build the install and PATH search lists, take
// one -B directory from the command line, find libqel_plugin.so and the
// wrapped tool, and run the tool with "--plugin <plugin>" in front of the
// user's arguments, relaying its exit status.
#pragma once

// Build-time constants of one program.  Every string is a literal of the
// program; every directory is absolute and ends in '/'.
struct frontend_program {
  const char *target;          // e.g. "mips64-unknown-freebsd14.0"
  const char *version;         // e.g. "9.5.0"
  const char *bindir;          // configured directory of the programs
  const char *libdir;          // configured library directory
  const char *libexecdir;      // configured libexec directory
  const char *wrapped_tool;    // "ar", "nm" or "ranlib"
  const char *installed_name;  // "zov-ar", ...
  bool dash_first_argument;    // zov-ar: "rcs" becomes "-rcs"
};

// The whole program: returns the process exit status, or exits with 1 on a
// usage or lookup error.  argv is changed in place (-B arguments removed).
int frontend_main(const frontend_program *program, int argc, char **argv);

// The -B scan, from argument 0 on: the first argument beginning with "-B"
// is removed from the vector (with the next one when it is exactly "-B")
// and its directory stored in *dir.
enum dash_b_result { DASH_B_ABSENT, DASH_B_TAKEN, DASH_B_MISSING_DIR };
dash_b_result take_dash_b_option(int *argc, char **argv, char **dir);
