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
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frontend/testing/test_harness.h"
#include "support/test_emulator.h"

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
  temp_dir tmp;
  std::string record = tmp.path() + "/record";
  install_tree tree{tmp.path() + "/root"};

  // Runs `path` with `args` as its whole argument vector (argument 0
  // included); the stand-in records to `record`.
  run_result run(const std::string &path, const std::vector<std::string> &args,
                 run_options options = {}) {
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
    EXPECT_EQ(saw.args,
              concat({tree.tool_text(tool), "--plugin", tree.plugin_text()}, c.tool_args));
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
      {{nm, "-B", "", "x.o"}, extra, "nm", plugin_name, {"x.o"}},
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
    EXPECT_EQ(tool_saw().args, concat({c.tool, "--plugin", c.plugin}, c.tool_args));
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
    EXPECT_EQ(tool_saw().args, concat({expected_tool, "--plugin", t.plugin_text()}, {"x.o"}));
    remove(record.c_str());
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
    EXPECT_EQ(tool_saw().args, concat({expected_tool, "--plugin", t.plugin_text()}, {"x.o"}));
    remove(record.c_str());
  }
}

TEST_F(Frontend, UsageAndLookupErrorsEndWithStatusOneAndRunNothing) {
  std::string target_nm = "'" + target + "-nm'\n";
  std::string usage = "Usage: zov-ar [-B prefix] ar arguments ...\n";
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
      {"-B last, zov-nm", "zov-nm", true, true, {"x.o", "-B"}, "", usage},
      {"-B last, zov-ar", "zov-ar", true, true, {"-B"}, "", usage},
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
    EXPECT_EQ(tool_saw().args, concat({tool, "--plugin", tree.plugin_text()}, {"x.o"}));
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
      EXPECT_EQ(tool_saw().args,
                std::vector<std::string>({t.tool_text("nm"), "--plugin", t.plugin_text()}));
    }
  }
}

// The "home" variant lives in the configured bin directory, beside a tool
// and plugin put in its configured tree at build time.
TEST_F(Frontend, ConfiguredDirectoriesWhenNotRelocated) {
  const std::string home = ZOV_TEST_HOME;  // ends in '/'
  const std::string program = home + "bin/zov-nm";
  const std::vector<std::string> configured = {
      home + "lib/zov/" + target + "/" + version + "/../../../../" + target + "/bin/nm",
      "--plugin", home + "libexec/zov/" + target + "/" + version + "/" + plugin_name};
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
#ifndef __linux__
    if (c.empty_argv) {
      printf("skipped case \"%s\": only Linux starts a program from an empty argument vector\n",
             c.what);
      continue;
    }
#endif
    run_options options;
    options.empty_argv = c.empty_argv;
    run_result r = run(c.args.empty() ? program : c.args[0], c.args, options);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_EQ(tool_saw().args, c.empty_argv ? configured : concat(configured, {"x.o"}));
  }
}

}  // namespace
