// End-to-end tests of the built front-end programs: each runs in a fresh
// install tree under a temporary directory, with the stand-in tool in the
// place of the real ar or nm.
//
// The programs under test are variants configured for a prefix that never
// exists (so every run is relocated to the temporary tree) and one that
// lives in its own configured bin directory inside the build tree.

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "pathsearch/pathsearch.h"
#include "testing/emulator.h"
#include "testing/files.h"
#include "testing/process.h"
#include "testing/stand_in_tool.h"

using namespace zov_test;

namespace {

const std::string target = ZOV_TEST_TARGET;
const std::string version = ZOV_TEST_VERSION;
const std::string stand_in = ZOV_TEST_STAND_IN;
const std::string plugin_name = "libqel_plugin.so";

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// What the tool is started with: its path, the plugin option, then the
// user's arguments.
std::vector<std::string> tool_argv(const std::string &tool_path, const std::string &plugin_path,
                                   const std::vector<std::string> &args = {}) {
  return concat({tool_path, "--plugin", plugin_path}, args);
}

// An install tree at `root`, laid out as the programs expect it.
struct install_tree {
  std::string root;

  std::string bin() const { return root + "/bin"; }
  std::string tool_dir() const { return root + "/" + target + "/bin"; }
  std::string plugin_dir() const { return root + "/libexec/zov/" + target + "/" + version; }

  // The texts a program in bin/ builds for this tree.
  std::string tool_text(const std::string &tool) const {
    return root + "/bin/../lib/zov/" + target + "/" + version + "/../../../../" + target +
           "/bin/" + tool;
  }
  std::string plugin_text() const {
    return root + "/bin/../libexec/zov/" + target + "/" + version + "/" + plugin_name;
  }
  // What a program in bin/ starts this tree's `tool` with.
  std::vector<std::string> argv_for(const std::string &tool,
                                    const std::vector<std::string> &args = {}) const {
    return tool_argv(tool_text(tool), plugin_text(), args);
  }

  // Copies one of the test programs ("zov-ar", "zov-nm") into bin/.
  std::string add_program(const std::string &name) const {
    make_dirs(root + "/lib/zov/" + target + "/" + version);
    std::string path = bin() + "/" + name;
    copy_file(std::string(ZOV_TEST_PROGRAMS_DIR) + "/" + name, path);
    return path;
  }
  void add_plugin() const { add_plugin_in(plugin_dir()); }
  static void add_plugin_in(const std::string &dir) { write_file(dir + "/" + plugin_name, ""); }
  void add_tool(const std::string &name) const { add_tool_in(tool_dir(), name); }
  static void add_tool_in(const std::string &dir, const std::string &name) {
    copy_file(stand_in, dir + "/" + name);
  }
  // A program with its plugin and its tool: a tree in working order.
  std::string complete(const std::string &program, const std::string &tool) const {
    add_plugin();
    add_tool(tool);
    return add_program(program);
  }
};

class Frontend : public testing::Test {
 protected:
  scratch_dir tmp;
  std::string record = tmp.path() + "/record";
  install_tree tree{tmp.path() + "/root"};

  // Runs `path` with `args` as its whole argument vector (argument 0
  // included); the stand-in records to `record`, and a record left from an
  // earlier run is gone first.
  run_result run(const std::string &path, const std::vector<std::string> &args,
                 run_options options = {}) {
    remove(record.c_str());
    options.env.push_back("ZOV_STAND_IN_RECORD=" + record);
    return run_program(path, args, options);
  }
  tool_record tool_saw() { return read_tool_record(record); }
};

TEST_F(Frontend, ToolGetsThePluginOptionThenTheUserArguments) {
  std::string empty = tmp.path() + "/empty";
  make_dirs(empty);
  struct {
    std::string program;
    std::vector<std::string> args;
    std::vector<std::string> tool_args;
  } cases[] = {
      {"zov-nm", {}, {}},
      {"zov-nm", {"rcs", "x.o", ""}, {"rcs", "x.o", ""}},
      {"zov-ar", {"rcs", "lib.a", "x.o"}, {"-rcs", "lib.a", "x.o"}},
      {"zov-ar", {"-rcs", "lib.a"}, {"-rcs", "lib.a"}},
      {"zov-ar", {""}, {"-"}},
      // A response file is ar's own to read: no dash in front of it.
      {"zov-ar", {"@objects", "x.o"}, {"@objects", "x.o"}},
      // -B is taken out before the dash rule sees the first argument.
      {"zov-ar", {"-B", empty, "rcs", "lib.a"}, {"-rcs", "lib.a"}},
      {"zov-ar", {"-B" + empty, "t", "-Bsecond"}, {"-t", "-Bsecond"}},
      {"zov-nm", {"--", "-B" + empty, "x.o"}, {"--", "x.o"}},
  };
  std::string ar = tree.complete("zov-ar", "ar");
  std::string nm = tree.complete("zov-nm", "nm");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.program + " " + testing::PrintToString(c.args));
    std::string path = c.program == "zov-ar" ? ar : nm;
    std::string tool = c.program == "zov-ar" ? "ar" : "nm";
    run_result r = run(path, concat({path}, c.args));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code(), 0);
    tool_record saw = tool_saw();
    EXPECT_EQ(saw.args, tree.argv_for(tool, c.tool_args));
    // The tool gets the standard descriptors and nothing else.
    EXPECT_EQ(saw.fds, " 0 1 2");
  }
}

TEST_F(Frontend, DashBDirectoryIsSearchedFirstAndAsGiven) {
  std::string nm = tree.complete("zov-nm", "nm");
  std::string extra = tmp.path() + "/extra";
  install_tree::add_plugin_in(extra);
  install_tree::add_tool_in(extra, "nm");
  install_tree::add_plugin_in(tmp.path() + "/-v");
  install_tree::add_tool_in(tmp.path() + "/-v", "nm");
  // A different nm along PATH: it must never be the one run.
  std::string decoy = tmp.path() + "/decoy";
  write_file(decoy + "/nm", "#!/bin/sh\nexit 42\n", 0755);

  struct {
    std::vector<std::string> args;  // argument 0 included
    std::string cwd;
    std::string tool;
    std::string plugin;
    std::vector<std::string> tool_args;
  } cases[] = {
      {{nm, "-B" + extra, "x.o"}, "", extra + "/nm", extra + "/" + plugin_name, {"x.o"}},
      {{nm, "-B" + extra + "/"}, "", extra + "/nm", extra + "/" + plugin_name, {}},
      {{nm, "x.o", "-B", extra}, "", extra + "/nm", extra + "/" + plugin_name, {"x.o"}},
      {{nm, "-B."}, extra, "./nm", "./" + plugin_name, {}},
      // An empty directory names files relative to the working directory;
      // the tool found there is the one run, not an nm along PATH.
      // Both are named with "./", so that neither can mean another file.
      {{nm, "-B", "", "x.o"}, extra, "./nm", "./" + plugin_name, {"x.o"}},
      {{nm, "-B", "-v", "x.o"}, tmp.path(), "-v/nm", "-v/" + plugin_name, {"x.o"}},
      // Argument 0 is scanned too; the next argument takes its place.
      {{"-B" + extra, "x.o"}, "", extra + "/nm", extra + "/" + plugin_name, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    run_options options;
    options.cwd = c.cwd;
    options.env = {"PATH=" + decoy};
    run_result r = run(nm, c.args, options);
    if (test_emulator() != nullptr && c.tool[0] == '-' &&
        r.err.rfind("qemu: unknown option", 0) == 0) {
      // Started through binfmt_misc under a name qemu does not know as its
      // own, qemu parses the path of the program as its options.
      printf("under %s: %s is taken by the emulator as its option; case left out\n",
             test_emulator(), c.tool.c_str());
      continue;
    }
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_EQ(tool_saw().args, tool_argv(c.tool, c.plugin, c.tool_args));
  }
}

TEST_F(Frontend, ToolPlainNameInTheTreeTargetPrefixedNameAlongPath) {
  const std::string prefixed = target + "-nm";
  struct {
    const char *what;
    bool plain_in_tree, prefixed_in_tree, plain_on_path, prefixed_on_path, prefixed_in_b;
    const char *found;  // "tree", "path", "b"; null: not found
  } cases[] = {
      {"tree first", true, false, false, true, false, "tree"},
      {"prefixed along PATH", false, false, false, true, false, "path"},
      {"plain name never along PATH", false, true, true, false, false, nullptr},
      {"-B directory, prefixed name", false, false, false, false, true, "b"},
  };
  int n = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    std::string base = tmp.path() + "/case" + std::to_string(n++);
    install_tree t{base + "/root"};
    std::string path_dir = base + "/path";
    std::string b_dir = base + "/b";
    make_dirs(path_dir);
    make_dirs(b_dir);
    // A non-executable candidate first along PATH is passed over.
    write_file(base + "/path0/" + prefixed, "not a program", 0644);
    std::string nm = t.add_program("zov-nm");
    t.add_plugin();
    if (c.plain_in_tree) t.add_tool("nm");
    if (c.prefixed_in_tree) t.add_tool(prefixed);
    if (c.plain_on_path) install_tree::add_tool_in(path_dir, "nm");
    if (c.prefixed_on_path) install_tree::add_tool_in(path_dir, prefixed);
    if (c.prefixed_in_b) install_tree::add_tool_in(b_dir, prefixed);

    run_options options;
    options.env = {"PATH=" + base + "/path0:" + path_dir};
    run_result r = run(nm, {nm, "-B" + b_dir, "x.o"}, options);
    std::string expected_tool;
    if (c.found == nullptr) {
      EXPECT_EQ(r.err, nm + ": Cannot find binary '" + prefixed + "'\n");
      EXPECT_EQ(r.exit_code(), 1);
      EXPECT_FALSE(tool_saw().present);
      continue;
    }
    std::string found = c.found;
    if (found == "tree") expected_tool = t.tool_text("nm");
    if (found == "path") expected_tool = path_dir + "/" + prefixed;
    if (found == "b") expected_tool = b_dir + "/" + prefixed;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_EQ(tool_saw().args, tool_argv(expected_tool, t.plugin_text(), {"x.o"}));
  }
}

// Files beyond 2 GiB are found like any other.  Without 64-bit file
// offsets a 32-bit build's stat fails on them with EOVERFLOW, and the
// program reports a plugin or tool that is there as missing.  The files
// are sparse: 3 GiB of size, a few blocks on disk; a program padded with
// zeros at its end still runs.
TEST_F(Frontend, PluginAndToolBeyondTwoGibibytesAreFound) {
  const off_t big = (off_t)3 << 30;
  const std::string prefixed = target + "-nm";
  struct {
    const char *what;
    bool big_plugin;
    const char *tool_where;  // "tree" or "path"
    bool big_tool;
  } cases[] = {
      {"large plugin", true, "tree", false},
      {"large tool in the tree", false, "tree", true},
      {"large tool along PATH", false, "path", true},
      {"both large", true, "path", true},
  };
  int n = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    std::string base = tmp.path() + "/case" + std::to_string(n++);
    install_tree t{base + "/root"};
    std::string path_dir = base + "/path";
    make_dirs(path_dir);
    std::string nm = t.add_program("zov-nm");
    t.add_plugin();
    std::string tool;
    if (std::string(c.tool_where) == "tree") {
      t.add_tool("nm");
      tool = t.tool_dir() + "/nm";
    } else {
      install_tree::add_tool_in(path_dir, prefixed);
      tool = path_dir + "/" + prefixed;
    }
    std::vector<std::string> grown;
    if (c.big_plugin) grown.push_back(t.plugin_dir() + "/" + plugin_name);
    if (c.big_tool) grown.push_back(tool);
    for (const std::string &file : grown) {
      if (truncate(file.c_str(), big) != 0) {
        GTEST_SKIP() << "the filesystem under " << tmp.path()
                     << " cannot hold a 3 GiB sparse file: " << strerror(errno);
      }
      struct stat st;
      ASSERT_EQ(stat(file.c_str(), &st), 0) << file << ": " << strerror(errno);
      ASSERT_EQ(st.st_size, big);
    }

    run_options options;
    options.env = {"PATH=" + path_dir};
    run_result r = run(nm, {nm, "x.o"}, options);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code(), 0);
    std::string expected_tool =
        std::string(c.tool_where) == "tree" ? t.tool_text("nm") : tool;
    EXPECT_EQ(tool_saw().args, tool_argv(expected_tool, t.plugin_text(), {"x.o"}));
  }
}

TEST_F(Frontend, UsageAndLookupErrorsEndWithStatusOneAndRunNothing) {
  std::string target_nm = "'" + target + "-nm'\n";
  // Each program names itself and the tool it runs.
  std::string nm_usage = "Usage: zov-nm [-B prefix] nm arguments ...\n";
  std::string ar_usage = "Usage: zov-ar [-B prefix] ar arguments ...\n";
  std::string empty = tmp.path() + "/empty";
  make_dirs(empty);
  struct {
    const char *what;
    std::string program;
    bool plugin, tool;
    std::vector<std::string> args;  // after argument 0, unless argv0 is set
    std::string argv0;              // empty: the program's path
    std::string message;            // "%0" stands for argument 0
  } cases[] = {
      {"-B last, zov-nm", "zov-nm", true, true, {"x.o", "-B"}, "", nm_usage},
      {"-B last, zov-ar", "zov-ar", true, true, {"-B"}, "", ar_usage},
      {"-B last, zov-ranlib", "zov-ranlib", true, true, {"x.a", "-B"}, "",
       "Usage: zov-ranlib [-B prefix] ranlib arguments ...\n"},
      {"no plugin", "zov-nm", false, true, {"x.o"}, "", "%0: Cannot find plugin 'libqel_plugin.so'\n"},
      {"no tool", "zov-nm", true, false, {"x.o"}, "", "%0: Cannot find binary " + target_nm},
      {"neither", "zov-nm", false, false, {}, "", "%0: Cannot find plugin 'libqel_plugin.so'\n"},
      // After -B is taken from argument 0, the next argument names us.
      {"-B as argument 0", "zov-nm", false, false, {"myname"}, "-B" + empty,
       "myname: Cannot find plugin 'libqel_plugin.so'\n"},
  };
  int n = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    install_tree t{tmp.path() + "/case" + std::to_string(n++)};
    std::string path = t.add_program(c.program);
    if (c.plugin) t.add_plugin();
    if (c.tool) t.add_tool(c.program.substr(4));
    std::string argv0 = c.argv0.empty() ? path : c.argv0;
    run_result r = run(path, concat({argv0}, c.args));
    std::string message = c.message;
    if (message.rfind("%0", 0) == 0) message = argv0 + message.substr(2);
    EXPECT_EQ(r.err, message);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.exit_code(), 1);
    EXPECT_FALSE(tool_saw().present);
  }
}

TEST_F(Frontend, ToolStatusIsRelayed) {
  std::string nm = tree.complete("zov-nm", "nm");
  std::string tool = tree.tool_text("nm");
  auto killed = [&](int sig) {
    return tool + " terminated with signal " + std::to_string(sig) + " [" + strsignal(sig) + "]";
  };
  struct {
    std::vector<std::string> env;
    int exit_status;
    std::vector<std::string> messages;  // any one of them
    std::string out = "";
  } cases[] = {
      {{"ZOV_STAND_IN_EXIT=0"}, 0, {""}},
      {{"ZOV_STAND_IN_EXIT=1"}, 1, {""}},
      {{"ZOV_STAND_IN_EXIT=2"}, 2, {""}},
      {{"ZOV_STAND_IN_EXIT=77"}, 77, {""}},
      {{"ZOV_STAND_IN_SIGNAL=15"}, 1, {killed(SIGTERM) + "\n"}},
      {{"ZOV_STAND_IN_SIGNAL=9"}, 1, {killed(SIGKILL) + "\n"}},
      // Whether a core is written is the kernel's choice (core_pattern,
      // limits); the text for one that is, is checked in driver_test.
      {{"ZOV_STAND_IN_SIGNAL=11", "ZOV_STAND_IN_CORE=1"},
       1,
       {killed(SIGSEGV) + "\n", killed(SIGSEGV) + ", core dumped\n"}},
      // The tool writes straight to the front-end's own streams.
      {{"ZOV_STAND_IN_STDOUT=to stdout\n", "ZOV_STAND_IN_STDERR=to stderr\n"},
       0,
       {"to stderr\n"},
       "to stdout\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.env));
    run_options options;
    options.env = c.env;
    options.cwd = tmp.path();  // for a core file
    run_result r = run(nm, {nm, "x.o"}, options);
    EXPECT_EQ(r.exit_code(), c.exit_status);
    EXPECT_NE(std::find(c.messages.begin(), c.messages.end(), r.err), c.messages.end()) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(tool_saw().args, tree.argv_for("nm", {"x.o"}));
  }
}

// An ignored SIGCHLD is inherited across exec; with it the kernel would
// reap the tool by itself and its status could not be collected.
TEST_F(Frontend, ToolStatusIsRelayedWhenStartedWithSigchldIgnored) {
  std::string nm = tree.complete("zov-nm", "nm");
  for (int code : {0, 3}) {
    run_options options;
    options.ignore_sigchld = true;
    options.env = {"ZOV_STAND_IN_EXIT=" + std::to_string(code)};
    run_result r = run(nm, {nm}, options);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code(), code);
  }
}

TEST_F(Frontend, ToolThatCannotBeStartedIsReported) {
  std::string nm = tree.add_program("zov-nm");
  tree.add_plugin();
  write_file(tree.tool_dir() + "/nm", "#!/nonexistent/interpreter\n", 0755);
  run_result r = run(nm, {nm, "x.o"});
  EXPECT_EQ(r.err, "Error running " + tree.tool_text("nm") + ": execvp\n");
  EXPECT_EQ(r.exit_code(), 1);
}

// With no argument 0 the messages name the program by its installed name.
// (Linux hands a program started with an empty vector one empty argument.)
TEST_F(Frontend, EmptyArgumentVector) {
#ifndef __linux__
  GTEST_SKIP() << "only Linux starts a program from an empty argument vector "
                  "(FreeBSD's execve refuses one with EINVAL)";
#endif
  const std::string nm = target + "-nm";
  struct {
    const char *what;
    bool plugin, tool;
    std::string message;
  } cases[] = {
      {"no plugin", false, true, "zov-nm: Cannot find plugin 'libqel_plugin.so'\n"},
      {"no tool", true, false, "zov-nm: Cannot find binary '" + nm + "'\n"},
      {"both there", true, true, ""},
  };
  int n = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    install_tree t{tmp.path() + "/case" + std::to_string(n++)};
    std::string path = t.add_program("zov-nm");
    if (c.plugin) t.add_plugin();
    if (c.tool) t.add_tool("nm");
    run_options options;
    options.empty_argv = true;
    options.env = {"ZOV_EXEC_PREFIX=" + t.bin() + "/"};
    run_result r = run(path, {}, options);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.exit_code(), c.message.empty() ? 0 : 1);
    if (c.message.empty()) {
      EXPECT_EQ(tool_saw().args, t.argv_for("nm"));
    }
  }
}

// ZOV_EXEC_PREFIX is taken by its whole name only: names that it begins
// with or that begin with it are other variables.  (The static musl
// programs bring their own environment lookup.)
TEST_F(Frontend, ExecPrefixIsFoundByItsWholeName) {
  tree.complete("zov-nm", "nm");
  install_tree elsewhere{tmp.path() + "/elsewhere"};
  std::string path = elsewhere.add_program("zov-nm");
  std::string right = tree.bin() + "/";
  std::string wrong = tmp.path() + "/nothing/";
  const std::vector<std::string> decoys_right = {
      "ZOV_EXEC_PREFI=" + right, "ZOV_EXEC_PREFIXX=" + right, "ZOV_EXEC_PREFIX_=" + right,
      "zov_exec_prefix=" + right, "ZOV_EXEC_PREFIX" /* no '=' */};
  const std::vector<std::string> decoys_wrong = {
      "ZOV_EXEC_PREFI=" + wrong, "ZOV_EXEC_PREFIXX=" + wrong, "ZOV_EXEC_PREFIX_=" + wrong};
  struct {
    const char *what;
    std::vector<std::string> env;
    bool found;
  } cases[] = {
      {"only names like it", decoys_right, false},
      {"the name behind names like it", concat(decoys_wrong, {"ZOV_EXEC_PREFIX=" + right}), true},
      {"the name before names like it", concat({"ZOV_EXEC_PREFIX=" + right}, decoys_wrong), true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    run_options options;
    options.env = c.env;
    run_result r = run(path, {path}, options);
    if (c.found) {
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.exit_code(), 0);
      EXPECT_EQ(tool_saw().args, tree.argv_for("nm"));
    } else {
      EXPECT_EQ(r.err, path + ": Cannot find plugin 'libqel_plugin.so'\n");
      EXPECT_EQ(r.exit_code(), 1);
    }
  }
}

// Only Linux starts a program from an empty argument vector (FreeBSD's
// execve refuses one with EINVAL); elsewhere such a case is left out.
bool empty_argv_case_left_out(const char *what) {
#ifdef __linux__
  (void)what;
  return false;
#else
  printf("skipped case \"%s\": only Linux starts a program from an empty argument vector\n",
         what);
  return true;
#endif
}

// The "home" variant lives in the configured bin directory, beside a tool
// and plugin put in its configured tree at build time.
TEST_F(Frontend, ConfiguredDirectoriesWhenNotRelocated) {
  const std::string home = ZOV_TEST_HOME;  // ends in '/'
  const std::string program = home + "bin/zov-nm";
  const std::vector<std::string> configured =
      tool_argv(home + "lib/zov/" + target + "/" + version + "/../../../../" + target + "/bin/nm",
                home + "libexec/zov/" + target + "/" + version + "/" + plugin_name);
  make_symlink(program, tmp.path() + "/links/nm-link");
  struct {
    const char *what;
    std::vector<std::string> args;
    bool empty_argv;
  } cases[] = {
      {"run from the configured bin directory", {program, "x.o"}, false},
      {"through a symbolic link", {tmp.path() + "/links/nm-link", "x.o"}, false},
      {"empty argument vector, no ZOV_EXEC_PREFIX", {}, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.empty_argv && empty_argv_case_left_out(c.what)) continue;
    run_options options;
    options.empty_argv = c.empty_argv;
    run_result r = run(c.args.empty() ? program : c.args[0], c.args, options);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_EQ(tool_saw().args, c.empty_argv ? configured : concat(configured, {"x.o"}));
  }
}

// A front-end must never run itself.  For a native target the prefixed
// name is the host's own tool name, under which a front-end may be found
// along PATH; in the tree, a tool may be a link back to the program.  Run
// itself, a front-end starts itself again with one more "--plugin <path>",
// without end.  So that a regression cannot run away, even as root (whom
// RLIMIT_NPROC does not stop): the tree lies under a long path, so that
// each step lengthens the argument vector by some 2.5 KiB, and the stack
// limit caps the vector at 128 KiB (Linux), some 50 steps; besides, the
// whole process group is killed after 60 seconds.
TEST_F(Frontend, NeverRunsItself) {
  std::string deep = tmp.path();
  for (int i = 0; i < 10; ++i) deep += "/" + std::string(240, 'a' + i);
  const std::string prefixed = target + "-nm";
  struct {
    const char *what;
    bool self_in_tree;     // the tree's nm is a symbolic link to the program
    bool self_on_path;     // PATH's first directory has the program as T-nm
    bool hard_link;        // ... as a hard link rather than a symbolic one
    bool real_on_path;     // PATH's second directory has the real T-nm
    bool found;
  } cases[] = {
      {"itself along PATH, the real tool after it", false, true, false, true, true},
      {"itself in the tree, the real tool along PATH", true, false, false, true, true},
      {"itself in the tree and along PATH (hard link)", true, true, true, true, true},
      {"only itself along PATH", false, true, true, false, false},
  };
  int n = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    std::string base = deep + "/case" + std::to_string(n++);
    install_tree t{base + "/root"};
    std::string nm = t.add_program("zov-nm");
    t.add_plugin();
    make_dirs(t.tool_dir());
    if (c.self_in_tree) make_symlink(nm, t.tool_dir() + "/nm");
    std::string self_dir = base + "/self";
    std::string real_dir = base + "/real";
    make_dirs(self_dir);
    make_dirs(real_dir);
    if (c.self_on_path) {
      if (c.hard_link)
        ASSERT_EQ(link(nm.c_str(), (self_dir + "/" + prefixed).c_str()), 0) << strerror(errno);
      else
        make_symlink(nm, self_dir + "/" + prefixed);
    }
    if (c.real_on_path) install_tree::add_tool_in(real_dir, prefixed);

    run_options options;
    options.env = {"PATH=" + self_dir + ":" + real_dir};
    options.stack_limit = 512 * 1024;
    options.timeout_seconds = 60;
    run_result r = run(nm, {nm, "x.o"}, options);
    ASSERT_FALSE(r.timed_out);
    if (c.found) {
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.exit_code(), 0);
      EXPECT_EQ(tool_saw().args, tool_argv(real_dir + "/" + prefixed, t.plugin_text(), {"x.o"}));
    } else {
      EXPECT_EQ(r.err, nm + ": Cannot find binary '" + prefixed + "'\n");
      EXPECT_EQ(r.exit_code(), 1);
      EXPECT_FALSE(tool_saw().present);
    }
  }
}

// Each install-tree directory is one search entry, whatever its text
// holds.  Split at ':' like PATH, a tree under .../c:d would lose its own
// entries and gain ones relative to the current directory, where a
// planted plugin and tool would be taken.
TEST_F(Frontend, InstallPathWithAColon) {
  install_tree t{tmp.path() + "/c:d/root"};
  std::string nm = t.complete("zov-nm", "nm");
  // What the pieces after the ':' name, seen from the working directory.
  std::string cwd = tmp.path() + "/work";
  install_tree planted{cwd + "/d/root"};
  planted.add_program("zov-nm");
  planted.add_plugin();
  planted.add_tool("nm");
  run_options options;
  options.cwd = cwd;
  run_result r = run(nm, {nm, "x.o"}, options);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exit_code(), 0);
  EXPECT_EQ(tool_saw().args, t.argv_for("nm", {"x.o"}));
}

// An argument 0 that PATH cannot place says nothing about where the
// program lies; the program asks the system instead and never settles on
// directories relative to the working directory.  A plugin and a tool are
// planted where those would lead: the working directory's parent.
TEST_F(Frontend, ArgumentZeroThatPathCannotPlace) {
  std::unique_ptr<char, decltype(&free)> own(running_program_path(), &free);
  if (own == nullptr) GTEST_SKIP() << "this system does not tell a program its own path";

  std::string nm = tree.complete("zov-nm", "nm");
  std::string cwd = tmp.path() + "/work";
  make_dirs(cwd);
  install_tree planted{tmp.path()};
  make_dirs(tmp.path() + "/lib/zov/" + target + "/" + version);
  planted.add_plugin();
  write_file(planted.tool_dir() + "/nm", "#!/bin/sh\necho planted >&2\nexit 42\n", 0755);
  std::string empty = tmp.path() + "/empty";
  make_dirs(empty);

  struct {
    const char *what;
    std::string argv0;
    bool no_path;
    std::string path;
  } cases[] = {
      {"PATH unset", "zov-nm", true, ""},
      {"no PATH entry holds it", "zov-nm", false, "PATH=" + empty},
      {"another name (exec -a)", "renamed", true, ""},
      // A relative name with a '/' names the file, and is used as it is
      // (resolved, as every program path is).
      {"relative name with a '/'", "../root/bin/zov-nm", true, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    run_options options;
    options.cwd = cwd;
    options.no_path = c.no_path;
    if (!c.path.empty()) options.env = {c.path};
    run_result r = run(nm, {c.argv0, "x.o"}, options);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_EQ(tool_saw().args, tree.argv_for("nm", {"x.o"}));
  }
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool has_line(const std::vector<std::string> &lines, const std::string &line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// ZOV_TRACE unset or empty changes nothing: what stderr holds is the same,
// byte for byte, with and without it.
TEST_F(Frontend, TraceOffOrEmptyChangesNothing) {
  std::string nm = tree.complete("zov-nm", "nm");
  install_tree bare{tmp.path() + "/bare"};
  std::string bare_nm = bare.add_program("zov-nm");
  write_file(tree.tool_dir() + "/broken", "#!/nonexistent/interpreter\n", 0755);
  struct {
    const char *what;
    std::string program;
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string err;
  } cases[] = {
      {"a good run", nm, {"x.o"}, {}, ""},
      {"a good run, the tool writing on stderr", nm, {"x.o"}, {"ZOV_STAND_IN_STDERR=tool\n"},
       "tool\n"},
      {"no plugin", bare_nm, {"x.o"}, {}, bare_nm + ": Cannot find plugin 'libqel_plugin.so'\n"},
      {"-B last", nm, {"-B"}, {}, "Usage: zov-nm [-B prefix] nm arguments ...\n"},
  };
  for (const auto &c : cases) {
    for (const char *setting : {"", "ZOV_TRACE="}) {
      SCOPED_TRACE(std::string(c.what) + " " + setting);
      run_options options;
      options.env = c.env;
      if (*setting != '\0') options.env.push_back(setting);
      run_result r = run(c.program, concat({c.program}, c.args), options);
      EXPECT_EQ(r.err, c.err);
    }
  }
}

// ZOV_TRACE=1: who the program is, where it located itself and its tree,
// the lookups, and the command it runs, pasteable into a shell.
TEST_F(Frontend, TraceShowsWhereItLookedAndWhatItRuns) {
  std::string nm = tree.complete("zov-nm", "nm");
  const std::string tree_bin = tree.bin() + "/";
  const std::string head = "zov-nm: ";
  run_options options;
  options.env = {"ZOV_TRACE=1"};
  std::vector<std::string> args = {"x.o", "it's", "a b", "$HOME", ""};
  run_result r = run(nm, concat({nm}, args), options);
  EXPECT_EQ(r.exit_code(), 0);
  EXPECT_EQ(tool_saw().args, tree.argv_for("nm", args));
  std::vector<std::string> lines = lines_of(r.err);
  ASSERT_GE(lines.size(), 3u) << r.err;
  EXPECT_EQ(lines[0], head + "zov " + ZOV_TEST_PACKAGE_VERSION + ", target " + target +
                          ", compiler version " + version);
  EXPECT_TRUE(has_line(lines, head + "program path " + nm + " (from argument 0)")) << r.err;
  EXPECT_TRUE(has_line(lines, head + "library directory " + tree_bin + "../lib/zov/ (relocated)"))
      << r.err;
  EXPECT_TRUE(has_line(lines, head + "libexec directory " + tree_bin +
                                  "../libexec/zov/ (relocated)"))
      << r.err;
  EXPECT_TRUE(has_line(lines, "Looking for 'libqel_plugin.so'")) << r.err;
  EXPECT_TRUE(has_line(lines, "Looking for 'nm'")) << r.err;
  // The last line is the command: the shell reads it back as the very
  // arguments the tool got.
  const std::string running = head + "running ";
  ASSERT_EQ(lines.back().rfind(running, 0), 0u) << r.err;
  std::string command = lines.back().substr(running.size());
  std::string printed;
  ASSERT_TRUE(run_command({"/bin/sh", "-c", "printf '%s\\n' " + command}, &printed));
  std::string expected;
  for (const std::string &arg : tool_saw().args) expected += arg + "\n";
  EXPECT_EQ(printed, expected);
}

TEST_F(Frontend, TraceNamesWhereTheProgramPathCameFrom) {
  std::string nm = tree.complete("zov-nm", "nm");
  std::string bin = tree.bin();
  std::unique_ptr<char, decltype(&free)> own(running_program_path(), &free);
  struct {
    const char *what;
    std::string argv0;
    std::vector<std::string> env;
    bool no_path;
    std::string line;
  } cases[] = {
      {"argument 0", nm, {}, false, "program path " + nm + " (from argument 0)"},
      {"PATH", "zov-nm", {"PATH=" + bin}, false,
       "program path " + bin + "/zov-nm (from argument 0, found along PATH)"},
      {"ZOV_EXEC_PREFIX", "anything", {"ZOV_EXEC_PREFIX=" + bin + "/"}, false,
       "program path " + bin + "/zov-nm (from ZOV_EXEC_PREFIX)"},
      {"ZOV_EXEC_PREFIX empty", "anything", {"ZOV_EXEC_PREFIX=", "PATH=" + bin}, false,
       "program path " + bin + "/zov-nm (from ZOV_EXEC_PREFIX, found along PATH)"},
      {"the operating system", "zov-nm", {}, true,
       own == nullptr ? "program path none: the configured directories are used"
                      : "program path " + nm + " (from the operating system)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    run_options options;
    options.env = c.env;
    options.env.push_back("ZOV_TRACE=yes");
    options.no_path = c.no_path;
    run_result r = run(nm, {c.argv0}, options);
    EXPECT_TRUE(has_line(lines_of(r.err), "zov-nm: " + c.line)) << r.err;
  }
}

// A failed start: the usual line, then the error number's text.
TEST_F(Frontend, TraceGivesTheErrorOfAFailedStart) {
  std::string nm = tree.add_program("zov-nm");
  tree.add_plugin();
  write_file(tree.tool_dir() + "/nm", "#!/nonexistent/interpreter\n", 0755);
  run_options options;
  options.env = {"ZOV_TRACE=1"};
  run_result r = run(nm, {nm, "x.o"}, options);
  EXPECT_EQ(r.exit_code(), 1);
  std::string expected = "Error running " + tree.tool_text("nm") + ": execvp\nzov-nm: execvp: " +
                         strerror(ENOENT) + "\n";
  ASSERT_GE(r.err.size(), expected.size()) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - expected.size()), expected);
}

// A tool that is a script without a "#!" line is run by /bin/sh, as
// execvp runs one, whichever C library the program carries.
TEST_F(Frontend, ToolScriptWithoutInterpreterLineRunsUnderTheShell) {
  std::string nm = tree.add_program("zov-nm");
  tree.add_plugin();
  std::string ran = tmp.path() + "/ran";
  write_file(tree.tool_dir() + "/nm", "printf '%s\\n' \"$0\" \"$@\" > '" + ran + "'\nexit 3\n",
             0755);
  run_result r = run(nm, {nm, "x.o", "a b"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exit_code(), 3);
  EXPECT_EQ(read_file(ran), tree.tool_text("nm") + "\n--plugin\n" + tree.plugin_text() +
                                "\nx.o\na b\n");
}

// Whether a run may be made with /proc hidden, printing why not: the
// emulator answers for /proc/self/exe itself, so hiding it there shows
// nothing.
bool proc_can_be_hidden() {
  std::string why;
#ifdef ZOV_TEST_PROGRAMS_SANITIZED
  why = "the sanitizers' run-time in the programs needs /proc";
#else
  if (test_emulator() != nullptr)
    why = std::string(test_emulator()) + " answers for /proc/self/exe without /proc";
  else if (can_hide_proc(&why))
    return true;
#endif
  printf("skipped the runs without /proc: %s\n", why.c_str());
  return false;
}

// A directory so deep that every step of a program that starts itself
// again lengthens the argument vector by some 2.5 KiB: with the stack
// limit of bounded_run, which caps the vector at 128 KiB (Linux), such a
// chain ends within some 50 steps, even as root (whom RLIMIT_NPROC does
// not stop); the whole process group is killed after 60 seconds besides.
std::string deep_dir(const std::string &base) {
  std::string deep = base;
  for (int i = 0; i < 10; ++i) deep += "/" + std::string(240, 'a' + i);
  return deep;
}

run_options bounded_run(run_options options) {
  options.stack_limit = 512 * 1024;
  options.timeout_seconds = 60;
  return options;
}

// Two copies of a front-end (here two builds of it, as two versions
// would be), each installed under the target-prefixed name in a tree
// without its tool, both on PATH: the first passes over itself and finds
// the second, which must run nothing, with or without /proc.
TEST_F(Frontend, CopiesNeverRunEachOther) {
  const std::string prefixed = target + "-nm";
  bool hide_choices[] = {false, true};
  bool can_hide = proc_can_be_hidden();
  int n = 0;
  for (bool hide : hide_choices) {
    if (hide && !can_hide) continue;
    SCOPED_TRACE(hide ? "without /proc" : "with /proc");
    std::string base = deep_dir(tmp.path()) + "/case" + std::to_string(n++);
    install_tree first{base + "/first"}, second{base + "/second"};
    first.add_program("zov-nm");
    first.add_plugin();
    copy_file(first.bin() + "/zov-nm", first.bin() + "/" + prefixed);
    make_dirs(second.root + "/lib/zov/" + target + "/" + version);
    second.add_plugin();
    copy_file(std::string(ZOV_TEST_HOME) + "bin/zov-nm", second.bin() + "/" + prefixed);

    run_options options;
    options.env = {"PATH=" + first.bin() + ":" + second.bin()};
    options.hide_proc = hide;
    std::string program = first.bin() + "/" + prefixed;
    run_result r = run(program, {program, "x.o"}, bounded_run(options));
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.err, second.bin() + "/" + prefixed + ": started by the front-end " + program +
                         "; not running " + program +
                         ", so that front-ends cannot start each other without end\n");
    EXPECT_EQ(r.exit_code(), 1);
    EXPECT_FALSE(tool_saw().present);
  }
}

// Without /proc the program cannot ask the system which file it is: the
// file it located itself by stands for it, so it still passes over itself.
TEST_F(Frontend, NeverRunsItselfWithoutProc) {
  if (!proc_can_be_hidden()) GTEST_SKIP() << "/proc cannot be hidden here";
  const std::string prefixed = target + "-nm";
  install_tree t{deep_dir(tmp.path()) + "/root"};
  std::string nm = t.add_program("zov-nm");
  t.add_plugin();
  make_dirs(t.tool_dir());
  make_symlink(nm, t.tool_dir() + "/nm");
  std::string self_dir = tmp.path() + "/self", real_dir = tmp.path() + "/real";
  make_symlink(nm, self_dir + "/" + prefixed);
  install_tree::add_tool_in(real_dir, prefixed);

  run_options options;
  options.env = {"PATH=" + self_dir + ":" + real_dir};
  options.hide_proc = true;
  run_result r = run(nm, {nm, "x.o"}, bounded_run(options));
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exit_code(), 0);
  EXPECT_EQ(tool_saw().args, tool_argv(real_dir + "/" + prefixed, t.plugin_text(), {"x.o"}));
}

// A PATH entry that means the working directory finds whatever lies
// there under the program's name.  Unless that is the running program's
// own file, the program asks the system where it lies instead of taking
// the tree around a planted copy.
TEST_F(Frontend, PlantedCopyInTheWorkingDirectoryPlacesNothing) {
  std::unique_ptr<char, decltype(&free)> own(running_program_path(), &free);
  if (own == nullptr) GTEST_SKIP() << "this system does not tell a program its own path";
  std::string nm = tree.complete("zov-nm", "nm");
  std::string cwd = tmp.path() + "/planted/bin";
  install_tree planted{tmp.path() + "/planted"};
  planted.add_program("zov-nm");
  planted.add_plugin();
  write_file(planted.tool_dir() + "/nm", "#!/bin/sh\necho planted >&2\nexit 42\n", 0755);
  struct {
    const char *what;
    std::string argv0;
    std::vector<std::string> env;
  } cases[] = {
      {"argument 0 along a PATH ending in ':'", "zov-nm", {"PATH=/nonexistent:"}},
      {"argument 0 along a PATH with an empty entry", "zov-nm", {"PATH=:/nonexistent"}},
      {"ZOV_EXEC_PREFIX empty, PATH ending in ':'", "anything",
       {"ZOV_EXEC_PREFIX=", "PATH=/nonexistent:"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    run_options options;
    options.cwd = cwd;
    options.env = c.env;
    run_result r = run(nm, {c.argv0, "x.o"}, options);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_EQ(tool_saw().args, tree.argv_for("nm", {"x.o"}));
  }
}

// With an empty -B the plugin found in the working directory reaches the
// tool as "./libqel_plugin.so": a bare name would be looked for by the
// dynamic loader along its library path, never there.  Shown with the
// host's real nm loading the sample plugin.
TEST_F(Frontend, EmptyDashBHandsTheToolThePluginItChecked) {
#ifndef ZOV_TEST_HOST_NM
  GTEST_SKIP() << "needs the host's nm and a plugin built for the host (not when "
                  "cross-compiling)";
#else
  std::string nm = tree.add_program("zov-nm");
  std::string cwd = tmp.path() + "/work";
  copy_file(ZOV_TEST_HOST_NM, cwd + "/nm");
  copy_file(ZOV_TEST_SAMPLE_PLUGIN, cwd + "/" + plugin_name);
  // No object: nm asks the plugin about a file it does not know itself.
  write_file(cwd + "/text.o", "not an object\n");
  run_options options;
  options.cwd = cwd;
  options.env = {"ZOV_SAMPLE_PLUGIN_TRACE=1"};
  run_result r = run(nm, {nm, "-B", "", "text.o"}, options);
  EXPECT_NE(r.err.find("libqel_plugin.so: onload called"), std::string::npos) << r.err;
#endif
}

// A trace line that cannot be written is dropped: the tool runs as it
// would untraced, with the SIGPIPE disposition the program was given.
TEST_F(Frontend, TraceToAReaderThatHasGoneChangesNothing) {
  std::string nm = tree.complete("zov-nm", "nm");
  for (bool ignored : {false, true}) {
    SCOPED_TRACE(ignored ? "SIGPIPE ignored" : "SIGPIPE at its default");
    run_options options;
    options.env = {"ZOV_TRACE=1", "ZOV_STAND_IN_EXIT=5"};
    options.stderr_reader_gone = true;
    options.ignore_sigpipe = ignored;
    run_result r = run(nm, {nm, "x.o"}, options);
    EXPECT_EQ(r.exit_code(), 5);
    tool_record saw = tool_saw();
    EXPECT_EQ(saw.args, tree.argv_for("nm", {"x.o"}));
    EXPECT_EQ(saw.sigpipe, ignored ? "ignored" : "default");
  }
}

// No argument 0 at all, or an empty one, in a moved tree: the system says
// where the program lies.
TEST_F(Frontend, NoArgumentZeroInAMovedTree) {
  std::unique_ptr<char, decltype(&free)> own(running_program_path(), &free);
  if (own == nullptr) GTEST_SKIP() << "this system does not tell a program its own path";
  std::string nm = tree.complete("zov-nm", "nm");
  struct {
    const char *what;
    bool empty_argv;
    std::vector<std::string> args;
  } cases[] = {
      {"empty argument vector", true, {}},
      {"empty argument 0", false, {"", "x.o"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.empty_argv && empty_argv_case_left_out(c.what)) continue;
    run_options options;
    options.empty_argv = c.empty_argv;
    run_result r = run(nm, c.args, options);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code(), 0);
    std::vector<std::string> user_args;
    if (!c.args.empty()) user_args.assign(c.args.begin() + 1, c.args.end());
    EXPECT_EQ(tool_saw().args, tree.argv_for("nm", user_args));
  }
}

}  // namespace
