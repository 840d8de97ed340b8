// The front-end driver: everything zov-ar, zov-nm and zov-ranlib do, with
// the per-program constants passed in by main.cc.

#include "frontend/frontend.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pathsearch/pathsearch.h"
#include "pex/pex.h"
#include "support/support.h"

namespace {

// install_dirs: the target's tool directory and the plugin directory of the
// install tree; searched for the plugin and the tool's plain name.
// path_dirs: $PATH; searched for the target-prefixed tool name only.
search_path install_dirs;
search_path path_dirs;

// Nothing the driver allocates is ever freed: the process ends right after
// the tool does.  Holding the pointers in static storage rather than in
// locals keeps them reachable, so leak checkers see memory in use, not lost.
struct driver_allocations {
  char *program_path;
  char *library_dir;
  char *libexec_dir;
  char *tool_dir_text;
  char *plugin_dir_text;
  char *dash_b_dir;
  char *plugin_path;
  char *tool_path;
  char *prefixed_name;
  char **tool_argv;
  char *run_name;
};
driver_allocations kept;

const char plugin_name[] = "libqel_plugin.so";

// Whether argument 0 gives us a name.  An empty argument vector gives none,
// and Linux hands a program started with one a single empty argument
// instead, which names nothing either.
bool has_own_name(int argc, char **argv) {
  return argc >= 1 && argv[0] != nullptr && argv[0][0] != '\0';
}

// The name the lookup messages start with: argument 0, or else the
// installed name.
const char *message_name(const frontend_program *program, int argc, char **argv) {
  return has_own_name(argc, argv) ? argv[0] : program->installed_name;
}

// Where the running program lies, for relocation: $ZOV_EXEC_PREFIX (even an
// empty one) followed by the installed name, else argument 0.  Null (no
// name at all) leaves the configured directories in force.
const char *program_path(const frontend_program *program, int argc, char **argv) {
  const char *exec_prefix = getenv("ZOV_EXEC_PREFIX");
  if (exec_prefix != nullptr) {
    kept.program_path = str_join(exec_prefix, program->installed_name, (char *)nullptr);
    return kept.program_path;
  }
  return has_own_name(argc, argv) ? argv[0] : nullptr;
}

int run_tool(char *tool_path, char **tool_argv) {
  kept.run_name = str_join("zov-", tool_path, (char *)nullptr);

  // An inherited SIG_IGN for SIGCHLD makes the kernel reap the tool on its
  // own, and the wait for its status then fails although the tool ran.
  signal(SIGCHLD, SIG_DFL);

  // A tool found through an empty -B prefix is named without a '/'.  An
  // exec that searched PATH for that name could start some other file than
  // the one the lookup checked, so such a name is executed as it stands.
  int flags = PEX_FINAL_STAGE;
  if (strchr(tool_path, '/') != nullptr) flags |= PEX_USE_PATH;

  int status = 0;
  int err = 0;
  const char *message =
      pex_run_once(flags, tool_path, tool_argv, kept.run_name, nullptr, nullptr, &status, &err);
  if (message != nullptr) {
    fprintf(stderr, "Error running %s: %s\n", tool_path, message);
    return 1;
  }
  return frontend_exit_status(tool_path, status);
}

}  // namespace

dash_b_result take_dash_b_option(int *argc, char **argv, char **dir) {
  for (int i = 0; i < *argc; ++i) {
    const char *arg = argv[i];
    if (arg[0] != '-' || arg[1] != 'B') continue;

    char *text;
    int removed;
    if (arg[2] != '\0') {
      text = argv[i] + 2;
      removed = 1;
    } else {
      if (i + 1 >= *argc) return DASH_B_MISSING_DIR;
      text = argv[i + 1];
      removed = 2;
    }
    // Close the gap; the terminating null pointer moves along too.
    for (int j = i; j + removed <= *argc; ++j) argv[j] = argv[j + removed];
    *argc -= removed;

    size_t len = strlen(text);
    if (len == 0 || text[len - 1] == '/')
      *dir = text;
    else
      *dir = str_join(text, "/", (char *)nullptr);
    return DASH_B_TAKEN;
  }
  return DASH_B_ABSENT;
}

char **build_tool_argv(const frontend_program *program, int argc, char **argv,
                       char *tool_path, char *plugin_path) {
  char **tool_argv = static_cast<char **>(must_calloc((size_t)argc + 4, sizeof(char *)));
  tool_argv[0] = tool_path;
  tool_argv[1] = const_cast<char *>("--plugin");
  tool_argv[2] = plugin_path;
  // ar reads a bare first word as its operation letters only when it is
  // the very first argument; behind "--plugin <path>" it needs the dash.
  if (program->dash_first_argument && argc >= 2 && argv[1][0] != '-')
    argv[1] = str_join("-", argv[1], (char *)nullptr);
  for (int i = 1; i < argc; ++i) tool_argv[i + 2] = argv[i];
  return tool_argv;
}

int frontend_exit_status(const char *tool_path, int wait_status) {
  if (wait_status == 0) return 0;
  if (WIFSTOPPED(wait_status)) return 1;
#ifdef WIFCONTINUED
  // Before the signal case: a continued status would read as a signal.
  // (FreeBSD and Linux both have it; it only arrives with WCONTINUED.)
  if (WIFCONTINUED(wait_status)) return 1;
#endif
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);

  int signal_number = WTERMSIG(wait_status);
  const char *signal_text = strsignal(signal_number);
  if (signal_text == nullptr) signal_text = "unknown signal";
  bool core_dumped = false;
#ifdef WCOREDUMP
  // Not POSIX: FreeBSD defines it while __BSD_VISIBLE (the default), Linux
  // under _DEFAULT_SOURCE; a strict system leaves the note out.
  core_dumped = WCOREDUMP(wait_status);
#endif
  fprintf(stderr, "%s terminated with signal %d [%s]%s\n", tool_path, signal_number, signal_text,
          core_dumped ? ", core dumped" : "");
  return 1;
}

int frontend_main(const frontend_program *program, int argc, char **argv) {
  // Both directories are settled, library first, before any list is
  // filled; -B plays no part in them.  The program is looked for and
  // resolved once for both.
  const char *where = program_path(program, argc, argv);
  const char *configured[2] = {program->libdir, program->libexecdir};
  char *relocated[2];
  relocated_prefixes(where, program->bindir, configured, 2, relocated);
  kept.library_dir = relocated[0];
  kept.libexec_dir = relocated[1];
  const char *library_dir = kept.library_dir != nullptr ? kept.library_dir : program->libdir;
  const char *libexec_dir = kept.libexec_dir != nullptr ? kept.libexec_dir : program->libexecdir;

  // The tool directory is reached from the version directory of the
  // library tree; the "../" stay in the text, unnormalised.
  kept.tool_dir_text = str_join(library_dir, program->tool_dir_below_libdir, (char *)nullptr);
  search_path_from_string(kept.tool_dir_text, &install_dirs);
  kept.plugin_dir_text =
      str_join(libexec_dir, program->plugin_dir_below_libexecdir, (char *)nullptr);
  search_path_from_string(kept.plugin_dir_text, &install_dirs);

  dash_b_result dash_b = take_dash_b_option(&argc, argv, &kept.dash_b_dir);
  if (dash_b == DASH_B_MISSING_DIR) {
    // One text for all three programs.
    fputs("Usage: zov-ar [-B prefix] ar arguments ...\n", stderr);
    exit(1);
  }
  if (dash_b == DASH_B_TAKEN) search_path_prepend(&install_dirs, kept.dash_b_dir);

  const char *name = message_name(program, argc, argv);
  kept.plugin_path = search_path_find(&install_dirs, plugin_name, R_OK);
  if (kept.plugin_path == nullptr) {
    fprintf(stderr, "%s: Cannot find plugin '%s'\n", name, plugin_name);
    exit(1);
  }

  // The plain name only in the install tree, the target-prefixed name only
  // along PATH: a host tool of the same plain name must never be taken.
  kept.tool_path = search_path_find(&install_dirs, program->wrapped_tool, X_OK);
  if (kept.tool_path == nullptr) {
    // path_dirs is needed only now, so it is built only now: a tool found
    // in the install tree (the usual case) costs no walk of $PATH.  The
    // list is the same as if built up front: $PATH's entries, behind the
    // -B directory.
    search_path_from_env("PATH", &path_dirs);
    if (dash_b == DASH_B_TAKEN) search_path_prepend(&path_dirs, kept.dash_b_dir);
    kept.prefixed_name = str_join(program->target, "-", program->wrapped_tool, (char *)nullptr);
    kept.tool_path = search_path_find(&path_dirs, kept.prefixed_name, X_OK);
    if (kept.tool_path == nullptr) {
      fprintf(stderr, "%s: Cannot find binary '%s'\n", name, kept.prefixed_name);
      exit(1);
    }
  }

  kept.tool_argv = build_tool_argv(program, argc, argv, kept.tool_path, kept.plugin_path);
  return run_tool(kept.tool_path, kept.tool_argv);
}
