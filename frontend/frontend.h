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
  const char *target;          // CONFIG_TARGET, e.g. "mips64-unknown-freebsd14.0"
  const char *version;         // CONFIG_VERSION, e.g. "9.5.0"
  const char *bindir;          // CONFIG_BINDIR: configured directory of the programs
  const char *libdir;          // CONFIG_LIBDIR: configured library directory
  const char *libexecdir;      // CONFIG_LIBEXECDIR: configured libexec directory
  const char *wrapped_tool;    // "ar", "nm" or "ranlib"
  const char *installed_name;  // "zov-ar", ...
  bool dash_first_argument;    // zov-ar: "rcs" becomes "-rcs"
  // The install-tree directories below the library and the libexec
  // directory: target "/" version "/" "../../../../" target "/" "bin/",
  // and target "/" version "/".  Each ends in '/', so that joined to its
  // directory it is a search prefix as it stands.  Joined from the constants above when the
  // program is compiled, so that a run joins two strings for each
  // directory rather than ten and five.
  const char *tool_dir_below_libdir;
  const char *plugin_dir_below_libexecdir;
  const char *package_version;  // this package's own version, for the trace
  // The plugin's file name, "libqel_plugin" and the host's suffix for a
  // loadable module: "libqel_plugin.so", or "libqel_plugin.dll" on
  // Windows.  Null means "libqel_plugin.so".
  const char *plugin_name;
};

// The constants of the program being built (frontend/main.cc), for its
// entry point (frontend/entry_posix.cc, entry_windows.cc).
extern const frontend_program frontend_this_program;

// The whole program: returns the process exit status, or exits with 1 on a
// usage or lookup error.  argv is changed in place (-B arguments removed,
// zov-ar's first argument replaced).  argc may be 0.
int frontend_main(const frontend_program *program, int argc, char **argv);

// The -B scan, from argument 0 on: the first argument beginning with "-B"
// is removed from the vector (with the next one when it is exactly "-B",
// whatever that one holds) and *argc lowered to match.  *dir receives the
// directory as a search prefix: unchanged when empty or already ending in
// '/', else a new string with "/" appended.  Later "-B" arguments stay.
// DASH_B_MISSING_DIR (a lone "-B" at the end) leaves argc, argv and *dir
// alone.
enum dash_b_result { DASH_B_ABSENT, DASH_B_TAKEN, DASH_B_MISSING_DIR };
dash_b_result take_dash_b_option(int *argc, char **argv, char **dir);

// The tool's argument vector, argc + 4 zeroed slots: tool path, "--plugin",
// plugin path, argv[1..argc-1], null.  With dash_first_argument a first
// user argument starting with neither '-' nor '@' (a response file, which
// ar reads itself) is first replaced in argv by a new
// string with "-" in front.
char **build_tool_argv(const frontend_program *program, int argc, char **argv,
                       char *tool_path, char *plugin_path);

// Turns the tool's wait status into the front-end's exit status: the
// tool's exit code; 1 for a stopped or continued tool; 1 with a message on
// stderr for a tool killed by a signal (on Windows, ended by an
// exception).  One per system: frontend/exit_status_posix.cc,
// exit_status_windows.cc.
int frontend_exit_status(const char *tool_path, int wait_status);
