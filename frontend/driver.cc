// The front-end driver: everything zov-ar, zov-nm and zov-ranlib do, with
// the per-program constants passed in by main.cc.

#include "frontend/frontend.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "frontend/host.h"
#include "pathsearch/path_rules.h"
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
  char *located_path;
  char *frontend_entry;
  char **tool_environment;
};
driver_allocations kept;

// The plugin's file name: "libqel_plugin" and the host's suffix for a
// loadable module (".so", ".dll"), unless the program says otherwise.
const char default_plugin_name[] = "libqel_plugin.so";

const char *plugin_name_of(const frontend_program *program) {
  return program->plugin_name != nullptr ? program->plugin_name : default_plugin_name;
}

// Set in the tool's environment to the front-end that runs it.  A
// front-end that finds it set was started, directly or not, by another
// one, and runs nothing: two front-ends that each find the other where
// their tool should be would otherwise start each other without end.
const char frontend_variable[] = "ZOV_FRONTEND";

// The front-end's own variables, taken in one walk of the environment
// rather than one getenv each: every run pays for a walk over every entry,
// and the walk counts the entries, which the tool's environment needs.  As
// with getenv, the first entry of a name counts; null when there is none.
struct own_variables {
  const char *exec_prefix;  // ZOV_EXEC_PREFIX
  const char *trace;        // ZOV_TRACE
  const char *started_by;   // ZOV_FRONTEND
  size_t environment_size;  // entries, the terminator not counted
};

// Whether entry, one "NAME=value" of the environment, is for name; sets
// *value when it is the first such entry.
void take_variable(const char *entry, const char *name, size_t name_length,
                   const char **value) {
  if (*value == nullptr && strncmp(entry, name, name_length) == 0 && entry[name_length] == '=')
    *value = entry + name_length + 1;
}

void read_own_variables(own_variables *own) {
  *own = own_variables{};
  char **environment = host_environment();
  if (environment == nullptr) return;  // a caller may have cleared it
  for (char **entry = environment; *entry != nullptr; ++entry, ++own->environment_size) {
    const char *e = *entry;
    // Most entries are not ours: one test of four bytes passes them.  This
    // walk instead of a getenv each saves some 1,400 instructions a run
    // (bench/README.md; a musl run takes about 7,200 in all).
    if (e[0] != 'Z' || e[1] != 'O' || e[2] != 'V' || e[3] != '_') continue;
    take_variable(e, "ZOV_EXEC_PREFIX", 15, &own->exec_prefix);
    take_variable(e, "ZOV_TRACE", 9, &own->trace);
    take_variable(e, frontend_variable, sizeof frontend_variable - 1, &own->started_by);
  }
}

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

// A path found through an empty -B prefix has no '/'.  Given to the tool
// as it stands, such a plugin name would be looked for by the dynamic
// loader along its library path, never in the working directory, so some
// other file than the one checked would be loaded; an exec would search
// PATH for such a tool name.  "./" makes each mean the file checked.
char *named_with_slash(char *path) {
  if (path_has_separator(path)) return path;
  char *named = str_join("./", path, (char *)nullptr);
  free(path);
  return named;
}

// ---- The trace (ZOV_TRACE set and not empty) ----------------------------------
//
// Off, it costs the test of the flag at each point.  On, it must never
// change the run: a line that cannot be written is dropped (SIGPIPE is
// ignored while the front-end traces, so a reader that has gone ends
// nothing), and the tool starts with the dispositions the front-end was
// given.

bool tracing;

void start_trace(const frontend_program *program, const char *setting) {
  tracing = setting != nullptr && setting[0] != '\0';
  if (!tracing) return;
  host_quiet_broken_pipe();
  search_path_set_trace(true);
  fprintf(stderr, "%s: zov %s, target %s, compiler version %s\n", program->installed_name,
          program->package_version != nullptr ? program->package_version : "(unknown)",
          program->target, program->version);
}

// Where the path the install tree is located from came from.
enum program_source {
  FROM_NOWHERE,
  FROM_ARGUMENT_0,
  FROM_ARGUMENT_0_ALONG_PATH,
  FROM_EXEC_PREFIX,
  FROM_EXEC_PREFIX_ALONG_PATH,
  FROM_SYSTEM,
};

const char *const source_text[] = {
    "none: the configured directories are used",
    "from argument 0",
    "from argument 0, found along PATH",
    "from ZOV_EXEC_PREFIX",
    "from ZOV_EXEC_PREFIX, found along PATH",
    "from the operating system",
};

void trace_program_path(const frontend_program *program, const char *where,
                        program_source source) {
  if (!tracing) return;
  if (where != nullptr)
    fprintf(stderr, "%s: program path %s (%s)\n", program->installed_name, where,
            source_text[source]);
  else
    fprintf(stderr, "%s: program path %s\n", program->installed_name, source_text[source]);
}

void trace_directory(const frontend_program *program, const char *what, const char *dir,
                     bool relocated) {
  if (!tracing) return;
  fprintf(stderr, "%s: %s directory %s (%s)\n", program->installed_name, what, dir,
          relocated ? "relocated" : "configured");
}

void trace_install_dirs(const frontend_program *program) {
  if (!tracing) return;
  for (search_dir *dir = install_dirs.head; dir != nullptr; dir = dir->next_dir)
    fprintf(stderr, "%s: install-tree search list: %s\n", program->installed_name,
            dir->dir_text);
}

// The command as it is started: after a long command line has been fitted
// (a response file on Windows), so that the line is the one that runs.
void trace_command(const frontend_program *program, char **tool_argv) {
  if (!tracing) return;
  fprintf(stderr, "%s: running", program->installed_name);
  host_put_command(tool_argv);
  fputc('\n', stderr);
}

void trace_failed_start(const frontend_program *program, const char *message, int err) {
  if (!tracing) return;
  host_quiet_broken_pipe();
  if (err != 0)
    fprintf(stderr, "%s: %s: %s\n", program->installed_name, message, host_error_text(err));
  else
    fprintf(stderr, "%s: %s: no error number\n", program->installed_name, message);
}

// ---- Where the program lies ---------------------------------------------------

// The system's word on where the running program lies, or null.
const char *path_from_system(program_source *source) {
  kept.located_path = running_program_path();
  *source = kept.located_path != nullptr ? FROM_SYSTEM : FROM_NOWHERE;
  return kept.located_path;
}

// Whether a file that PATH placed may locate the tree.  The running
// program's own file always may; when the system cannot tell, whatever
// PATH gives has to do.  Otherwise a bare argument 0, which names the
// running program, must not be taken for another file.  An empty
// ZOV_EXEC_PREFIX asks for the installed name along PATH, another file
// by design, but not for one that an entry meaning the working directory
// (empty, "." or any relative one) happens to find there.
bool placed_by_path(const char *located, program_source source) {
  int own = system_says_running_program(located);
  if (own != 0) return true;
  return source == FROM_EXEC_PREFIX && path_is_absolute(located);
}

// Where the running program lies, for relocation: $ZOV_EXEC_PREFIX (even an
// empty one) followed by the installed name, else argument 0.  A bare name
// is looked for along PATH, and what PATH gives is taken only when it is
// the running program's own file or the system cannot tell: an entry that
// means the working directory may hold a planted copy, with a planted tree
// around it.  When PATH cannot place the name, places another file, or
// there is no name at all, relocating from it would take whatever plugin
// and tool lie where it points, so the operating system is asked instead.
// Null (nothing the system can tell either) leaves the configured
// directories in force.
const char *program_path(const frontend_program *program, int argc, char **argv,
                         const char *exec_prefix, program_source *source) {
  const char *where;
  if (exec_prefix != nullptr) {
    kept.program_path = str_join(exec_prefix, program->installed_name, (char *)nullptr);
    where = kept.program_path;
    *source = FROM_EXEC_PREFIX;
  } else if (host_argument_0_locates_program && has_own_name(argc, argv)) {
    where = argv[0];
    *source = FROM_ARGUMENT_0;
  } else {
    return path_from_system(source);
  }
  // The usual run names the program with a '/' and costs nothing here.
  if (path_has_separator(where)) return where;

  char *located = program_along_path(where);
  if (located != nullptr && placed_by_path(located, *source)) {
    kept.located_path = located;
    *source =
        *source == FROM_EXEC_PREFIX ? FROM_EXEC_PREFIX_ALONG_PATH : FROM_ARGUMENT_0_ALONG_PATH;
    return located;
  }
  free(located);
  return path_from_system(source);
}

// The library and libexec directories, relocated from where the program
// lies (library first, before any list is filled; -B plays no part), and
// install_dirs from them.
void fill_install_dirs(const frontend_program *program, const char *where) {
  const char *configured[2] = {program->libdir, program->libexecdir};
  char *relocated[2];
  relocated_prefixes(where, program->bindir, configured, 2, relocated);
  kept.library_dir = relocated[0];
  kept.libexec_dir = relocated[1];
  const char *library_dir = kept.library_dir != nullptr ? kept.library_dir : program->libdir;
  const char *libexec_dir = kept.libexec_dir != nullptr ? kept.libexec_dir : program->libexecdir;
  trace_directory(program, "library", library_dir, kept.library_dir != nullptr);
  trace_directory(program, "libexec", libexec_dir, kept.libexec_dir != nullptr);

  // The tool directory is reached from the version directory of the
  // library tree; the "../" stay in the text, unnormalised.
  kept.tool_dir_text = str_join(library_dir, program->tool_dir_below_libdir, (char *)nullptr);
  // One install-tree directory is one search-list entry, whatever bytes
  // its text holds: a ':' in an install path is part of a directory name,
  // not a separator as in PATH.  Both texts end in '/' (the suffixes do).
  search_path_append(&install_dirs, kept.tool_dir_text);
  kept.plugin_dir_text =
      str_join(libexec_dir, program->plugin_dir_below_libexecdir, (char *)nullptr);
  search_path_append(&install_dirs, kept.plugin_dir_text);
}

// ---- The lookups --------------------------------------------------------------

bool find_plugin(const frontend_program *program, const char *name) {
  const char *plugin_name = plugin_name_of(program);
  char *found = search_path_find(&install_dirs, plugin_name, R_OK);
  if (found == nullptr) {
    fprintf(stderr, "%s: Cannot find plugin '%s'\n", name, plugin_name);
    return false;
  }
  kept.plugin_path = named_with_slash(found);
  return true;
}

// The plain name only in the install tree, the target-prefixed name only
// along PATH: a host tool of the same plain name must never be taken.
// Neither lookup takes the running program itself: for a native target
// the prefixed name is the host's own tool name, under which a front-end
// may be installed, and running itself it would start itself again and
// again.
bool find_tool(const frontend_program *program, const char *name, bool dash_b) {
  // Looked for under the host's program file name ("nm.exe" on Windows);
  // the messages name the tool as on every host.
  char *found = search_path_find_not_self(
      &install_dirs, path_program_file_name(program->wrapped_tool), X_OK);
  if (found == nullptr) {
    // path_dirs is needed only now, so it is built only now: a tool found
    // in the install tree (the usual case) costs no walk of $PATH.  The
    // list is the same as if built up front: $PATH's entries, behind the
    // -B directory.
    search_path_from_env("PATH", &path_dirs);
    if (dash_b) search_path_prepend(&path_dirs, kept.dash_b_dir);
    kept.prefixed_name = str_join(program->target, "-", program->wrapped_tool, (char *)nullptr);
    found =
        search_path_find_not_self(&path_dirs, path_program_file_name(kept.prefixed_name), X_OK);
    if (found == nullptr) {
      fprintf(stderr, "%s: Cannot find binary '%s'\n", name, kept.prefixed_name);
      return false;
    }
  }
  kept.tool_path = named_with_slash(found);
  return true;
}

// ---- The run --------------------------------------------------------------------

// environ with "ZOV_FRONTEND=<this front-end>" added behind its entries;
// nothing else of the tool's environment changes.
void mark_tool_environment(const char *self, size_t environment_size) {
  kept.frontend_entry = str_join(frontend_variable, "=", self, (char *)nullptr);
  kept.tool_environment = (char **)must_malloc((environment_size + 2) * sizeof(char *));
  char **environment = host_environment();
  for (size_t i = 0; i < environment_size; ++i) kept.tool_environment[i] = environment[i];
  kept.tool_environment[environment_size] = kept.frontend_entry;
  kept.tool_environment[environment_size + 1] = nullptr;
  host_set_environment(kept.tool_environment);
}

int run_tool(const frontend_program *program, char *tool_path, char **tool_argv) {
  kept.run_name = str_join("zov-", tool_path, (char *)nullptr);
  // A command line over the system's limit (Windows) carries the user's
  // arguments in a response file.
  tool_argv = host_fit_command_line(tool_argv, 3);
  trace_command(program, tool_argv);

  host_prepare_run();
  if (tracing) host_restore_broken_pipe();

  // The tool path always holds a '/', so the exec searches nothing;
  // PEX_USE_PATH is there for what execvp does with a tool that is a
  // script without a "#!" line: it runs it with /bin/sh.
  int status = 0;
  int err = 0;
  const char *message = pex_run_once(PEX_FINAL_STAGE | PEX_USE_PATH, tool_path, tool_argv,
                                     kept.run_name, nullptr, nullptr, &status, &err);
  host_after_run();
  if (message != nullptr) {
    fprintf(stderr, "Error running %s: %s\n", tool_path, message);
    trace_failed_start(program, message, err);
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
    if (len == 0 || path_is_separator(text[len - 1]))
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
  // A first word that names a response file (@file) is read by ar itself,
  // wherever it stands, and a dash would make it an unknown option.
  if (program->dash_first_argument && argc >= 2 && argv[1][0] != '-' && argv[1][0] != '@')
    argv[1] = str_join("-", argv[1], (char *)nullptr);
  for (int i = 1; i < argc; ++i) tool_argv[i + 2] = argv[i];
  return tool_argv;
}

int frontend_main(const frontend_program *program, int argc, char **argv) {
  own_variables own;
  read_own_variables(&own);
  start_trace(program, own.trace);

  program_source source;
  const char *where = program_path(program, argc, argv, own.exec_prefix, &source);
  trace_program_path(program, where, source);
  // Where the system cannot say which file is the running program, the one
  // it located itself by stands for it, so that it never finds itself as
  // its tool.
  set_running_program_fallback(where);
  fill_install_dirs(program, where);

  dash_b_result dash_b = take_dash_b_option(&argc, argv, &kept.dash_b_dir);
  if (dash_b == DASH_B_MISSING_DIR) {
    fprintf(stderr, "Usage: %s [-B prefix] %s arguments ...\n", program->installed_name,
            program->wrapped_tool);
    return 1;
  }
  if (dash_b == DASH_B_TAKEN) search_path_prepend(&install_dirs, kept.dash_b_dir);
  trace_install_dirs(program);

  const char *name = message_name(program, argc, argv);
  if (!find_plugin(program, name) || !find_tool(program, name, dash_b == DASH_B_TAKEN)) return 1;
  const char *self = where != nullptr ? where : name;
  if (own.started_by != nullptr) {
    fprintf(stderr,
            "%s: started by the front-end %s; not running %s, so that front-ends cannot "
            "start each other without end\n",
            name, own.started_by, kept.tool_path);
    return 1;
  }

  kept.tool_argv = build_tool_argv(program, argc, argv, kept.tool_path, kept.plugin_path);
  mark_tool_environment(self, own.environment_size);
  return run_tool(program, kept.tool_path, kept.tool_argv);
}
