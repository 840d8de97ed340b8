// The shipped programs as a user gets them: installed with `cmake --install`
// and then moved, or packed with cpack and unpacked elsewhere.  They must
// find the compiler's files from where they lie, however they are started.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "frontend/testing/test_harness.h"

using namespace zov_test;
namespace fs = std::filesystem;

namespace {

const std::string target = ZOV_TEST_TARGET;
const std::string version = ZOV_TEST_VERSION;
const std::string bindir = ZOV_TEST_BINDIR;
const std::string libdir = ZOV_TEST_LIBDIR;
const std::string libexecdir = ZOV_TEST_LIBEXECDIR;
const std::string plugin_name = "libqel_plugin.so";

// Puts the compiler's part into an install tree at `root`: the stand-in as
// the target's ar, nm and ranlib, and a plugin.
void add_compiler_files(const std::string &root) {
  make_dirs(root + "/" + libdir + "/zov/" + target + "/" + version);
  write_file(root + "/" + libexecdir + "/zov/" + target + "/" + version + "/" + plugin_name, "");
  for (const char *tool : {"ar", "nm", "ranlib"})
    copy_file(ZOV_TEST_STAND_IN, root + "/" + target + "/bin/" + tool);
}

// From a program directory `dir` (ending in '/'), up out of the bin
// directory and down into the configured one, as the programs compute it
// for the usual one-component bin, lib and libexec directories.
std::string relocated(const std::string &dir, const std::string &configured) {
  std::string up;
  for (const auto &component : fs::path(bindir)) {
    (void)component;
    up += "../";
  }
  return dir + up + configured + "/zov/" + target + "/" + version + "/";
}

std::vector<std::string> expected_tool_args(const std::string &program_dir,
                                            const std::string &tool,
                                            const std::vector<std::string> &user_args) {
  std::vector<std::string> args = {
      relocated(program_dir, libdir) + "../../../../" + target + "/bin/" + tool, "--plugin",
      relocated(program_dir, libexecdir) + plugin_name};
  args.insert(args.end(), user_args.begin(), user_args.end());
  return args;
}

TEST(Installed, RunsFromWhereverTheTreeIsMoved) {
  if (fs::path(bindir).is_absolute() || fs::path(libdir).is_absolute())
    GTEST_SKIP() << "absolute install directories are not relocatable";
  temp_dir tmp;
  std::string stage = tmp.path() + "/stage";
  std::string log;
  ASSERT_TRUE(run_command({ZOV_TEST_CMAKE, "--install", ZOV_TEST_BUILD_DIR, "--prefix", stage,
                           "--component", "frontend"},
                          &log))
      << log;
  std::string root = tmp.path() + "/moved";
  fs::rename(stage, root);
  add_compiler_files(root);
  std::string bin = root + "/" + bindir;
  std::string record = tmp.path() + "/record";

  // A copy of the programs in a tree without the compiler: run from there,
  // they can only work when told where the real tree is.
  std::string decoy = tmp.path() + "/decoy/" + bindir;
  for (const char *name : {"zov-ar", "zov-nm", "zov-ranlib"})
    copy_file(bin + "/" + name, decoy + "/" + name);
  // Where a ZOV_EXEC_PREFIX without its trailing '/' leads: the value runs
  // into the name, so the tree is looked for one level higher.
  make_symlink(root + "/" + libdir, tmp.path() + "/" + libdir);
  make_symlink(root + "/" + libexecdir, tmp.path() + "/" + libexecdir);
  // Unusable PATH entries before the right one.
  make_dirs(tmp.path() + "/path-dir/zov-nm");
  write_file(tmp.path() + "/path-file/zov-nm", "not a program", 0644);

  struct {
    const char *what;
    std::string file;  // what is executed
    std::string argv0;
    std::string tool;
    std::vector<std::string> env;
    std::string program_dir;  // where the tree is found from
  } cases[] = {
      {"absolute path", bin + "/zov-ar", bin + "/zov-ar", "ar", {}, bin + "/"},
      {"symbolic link elsewhere", tmp.path() + "/links/my-ar", tmp.path() + "/links/my-ar", "ar",
       {}, bin + "/"},
      {"bare name along PATH", bin + "/zov-nm", "zov-nm", "nm",
       {"PATH=" + tmp.path() + "/path-dir:" + tmp.path() + "/path-file:" + bin}, bin + "/"},
      {"ZOV_EXEC_PREFIX", decoy + "/zov-ranlib", decoy + "/zov-ranlib", "ranlib",
       {"ZOV_EXEC_PREFIX=" + bin + "/"}, bin + "/"},
      {"ZOV_EXEC_PREFIX without trailing '/'", decoy + "/zov-ar", decoy + "/zov-ar", "ar",
       {"ZOV_EXEC_PREFIX=" + bin}, fs::path(bin).parent_path().string() + "/"},
      {"ZOV_EXEC_PREFIX set but empty", decoy + "/zov-nm", decoy + "/zov-nm", "nm",
       {"ZOV_EXEC_PREFIX=", "PATH=" + bin}, bin + "/"},
  };
  make_symlink(bin + "/zov-ar", tmp.path() + "/links/my-ar");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    run_options options;
    options.env = c.env;
    options.env.push_back("ZOV_STAND_IN_RECORD=" + record);
    run_result r = run_program(c.file, {c.argv0, "t", "lib.a"}, options);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code(), 0);
    std::vector<std::string> user_args = {c.tool == "ar" ? "-t" : "t", "lib.a"};
    EXPECT_EQ(read_tool_record(record).args,
              expected_tool_args(c.program_dir, c.tool, user_args));
    fs::remove(record);
  }
}

TEST(Package, WorksUnpackedAnywhere) {
  if (fs::path(bindir).is_absolute() || fs::path(libdir).is_absolute())
    GTEST_SKIP() << "absolute install directories are not relocatable";
  temp_dir tmp;
  std::string log;
  ASSERT_TRUE(run_command({ZOV_TEST_CPACK, "-G", "TGZ", "-B", tmp.path() + "/out", "--config",
                           std::string(ZOV_TEST_BUILD_DIR) + "/CPackConfig.cmake"},
                          &log, tmp.path()))
      << log;
  std::vector<std::string> archives;
  for (const auto &entry : fs::directory_iterator(tmp.path() + "/out"))
    if (entry.path().string().ends_with(".tar.gz")) archives.push_back(entry.path().string());
  ASSERT_EQ(archives.size(), 1u) << log;

  std::string unpacked = tmp.path() + "/somewhere/else";
  make_dirs(unpacked);
  ASSERT_TRUE(run_command({"tar", "-xzf", archives[0], "-C", unpacked}, &log)) << log;
  std::vector<fs::path> tops;
  for (const auto &entry : fs::directory_iterator(unpacked)) tops.push_back(entry.path());
  ASSERT_EQ(tops.size(), 1u) << "one top directory";
  std::string root = tops[0].string();
  std::string bin = root + "/" + bindir;
  add_compiler_files(root);

  std::string record = tmp.path() + "/record";
  for (const char *tool : {"ar", "nm", "ranlib"}) {
    SCOPED_TRACE(tool);
    std::string program = bin + "/zov-" + tool;
    ASSERT_EQ(access(program.c_str(), X_OK), 0);
    run_options options;
    options.env = {"ZOV_STAND_IN_RECORD=" + record};
    run_result r = run_program(program, {program, "t", "lib.a"}, options);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code(), 0);
    std::vector<std::string> user_args = {std::string(tool) == "ar" ? "-t" : "t", "lib.a"};
    EXPECT_EQ(read_tool_record(record).args, expected_tool_args(bin + "/", tool, user_args));
  }
}

}  // namespace
