// The shipped programs as a user gets them: installed with `cmake --install`
// and then moved, or packed with cpack and unpacked elsewhere.  They must
// find the compiler's files from where they lie, however they are started.

#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/process.h"
#include "testing/stand_in_tool.h"

using namespace zov_test;
namespace fs = std::filesystem;

namespace {

const std::string target = ZOV_TEST_TARGET;
const std::string version = ZOV_TEST_VERSION;
const std::string bindir = ZOV_TEST_BINDIR;
const std::string libdir = ZOV_TEST_LIBDIR;
const std::string libexecdir = ZOV_TEST_LIBEXECDIR;
const std::string plugin_name = "libqel_plugin.so";
const std::string program_prefix = ZOV_TEST_PROGRAM_PREFIX;
const std::string package_name = ZOV_TEST_PACKAGE_NAME;

// Puts one compiler's part into an install tree at `root`: the stand-in as
// the target's ar, nm and ranlib, and a plugin.
void add_compiler_files(const std::string &root, const std::string &target = ::target,
                        const std::string &version = ::version) {
  make_dirs(root + "/" + libdir + "/zov/" + target + "/" + version);
  write_file(root + "/" + libexecdir + "/zov/" + target + "/" + version + "/" + plugin_name, "");
  for (const char *tool : {"ar", "nm", "ranlib"})
    copy_file(ZOV_TEST_STAND_IN, root + "/" + target + "/bin/" + tool);
}

// The section names of an ELF file, or an explanation of why there are
// none to give.
bool elf_section_names(const std::string &path, std::vector<std::string> *names,
                       std::string *why) {
  std::string image = read_file(path);
  if (image.size() < 64 || image.compare(0, 4, "\x7f" "ELF") != 0) {
    *why = path + " is not an ELF file";
    return false;
  }
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(image.data());
  bool wide = bytes[4] == 2;  // ELFCLASS64
  bool little = bytes[5] == 1;  // ELFDATA2LSB
  auto number = [&](size_t at, size_t size) -> uint64_t {
    if (at + size > image.size()) return 0;
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i)
      value |= uint64_t(bytes[at + (little ? i : size - 1 - i)]) << (8 * i);
    return value;
  };
  uint64_t shoff = wide ? number(0x28, 8) : number(0x20, 4);
  uint64_t shentsize = number(wide ? 0x3a : 0x2e, 2);
  uint64_t shnum = number(wide ? 0x3c : 0x30, 2);
  uint64_t shstrndx = number(wide ? 0x3e : 0x32, 2);
  auto section_offset = [&](uint64_t index) {
    uint64_t header = shoff + index * shentsize;
    return wide ? number(header + 0x18, 8) : number(header + 0x10, 4);
  };
  if (shnum == 0 || shstrndx >= shnum || shoff + shnum * shentsize > image.size()) {
    *why = path + ": no readable section header table";
    return false;
  }
  uint64_t strings = section_offset(shstrndx);
  for (uint64_t i = 0; i < shnum; ++i) {
    uint64_t name = strings + number(shoff + i * shentsize, 4);
    if (name >= image.size()) continue;
    names->push_back(std::string(image.c_str() + name, strnlen(image.c_str() + name,
                                                               image.size() - name)));
  }
  return true;
}

// A stripped program keeps no symbol table and no debug information (with
// it, each program carried the build's paths and several times its size).
void expect_stripped(const std::string &program) {
  std::vector<std::string> names;
  std::string why;
  if (!elf_section_names(program, &names, &why)) {
    std::cout << "not checked for stripping: " << why << "\n";
    return;
  }
  for (const auto &name : names) {
    EXPECT_NE(name, ".symtab") << program << " is not stripped";
    EXPECT_FALSE(name.starts_with(".debug")) << program << " has " << name;
  }
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
  scratch_dir tmp;
  std::string stage = tmp.path() + "/stage";
  std::string log;
  ASSERT_TRUE(run_command({ZOV_TEST_CMAKE, "--install", ZOV_TEST_BUILD_DIR, "--prefix", stage,
                           "--component", "frontend", "--strip"},
                          &log))
      << log;
  std::string root = tmp.path() + "/moved";
  fs::rename(stage, root);
  add_compiler_files(root);
  std::string bin = root + "/" + bindir;
  for (const char *name : {"zov-ar", "zov-nm", "zov-ranlib"})
    expect_stripped(bin + "/" + program_prefix + name);
  std::string record = tmp.path() + "/record";

  // A copy of the programs in a tree without the compiler: run from there,
  // they can only work when told where the real tree is.
  std::string decoy = tmp.path() + "/decoy/" + bindir;
  for (const char *name : {"zov-ar", "zov-nm", "zov-ranlib"})
    copy_file(bin + "/" + program_prefix + name, decoy + "/" + program_prefix + name);
  // Where a ZOV_EXEC_PREFIX without its trailing '/' leads: the value runs
  // into the name, so the tree is looked for one level higher.
  make_symlink(root + "/" + libdir, tmp.path() + "/" + libdir);
  make_symlink(root + "/" + libexecdir, tmp.path() + "/" + libexecdir);
  // Unusable PATH entries before the right one.
  std::string ar = program_prefix + "zov-ar", nm = program_prefix + "zov-nm",
              ranlib = program_prefix + "zov-ranlib";
  make_dirs(tmp.path() + "/path-dir/" + nm);
  write_file(tmp.path() + "/path-file/" + nm, "not a program", 0644);

  struct {
    const char *what;
    std::string file;  // what is executed
    std::string argv0;
    std::string tool;
    std::vector<std::string> env;
    std::string program_dir;  // where the tree is found from
  } cases[] = {
      {"absolute path", bin + "/" + ar, bin + "/" + ar, "ar", {}, bin + "/"},
      {"symbolic link elsewhere", tmp.path() + "/links/my-ar", tmp.path() + "/links/my-ar", "ar",
       {}, bin + "/"},
      {"bare name along PATH", bin + "/" + nm, nm, "nm",
       {"PATH=" + tmp.path() + "/path-dir:" + tmp.path() + "/path-file:" + bin}, bin + "/"},
      {"ZOV_EXEC_PREFIX", decoy + "/" + ranlib, decoy + "/" + ranlib, "ranlib",
       {"ZOV_EXEC_PREFIX=" + bin + "/"}, bin + "/"},
      {"ZOV_EXEC_PREFIX without trailing '/'", decoy + "/" + ar, decoy + "/" + ar, "ar",
       {"ZOV_EXEC_PREFIX=" + bin}, fs::path(bin).parent_path().string() + "/"},
      {"ZOV_EXEC_PREFIX set but empty", decoy + "/" + nm, decoy + "/" + nm, "nm",
       {"ZOV_EXEC_PREFIX=", "PATH=" + bin}, bin + "/"},
  };
  make_symlink(bin + "/" + ar, tmp.path() + "/links/my-ar");
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

// Each package, unpacked where no compiler was configured: the files a
// distribution ships (licence included) and programs that work from there.
TEST(Package, WorksUnpackedAnywhere) {
  if (fs::path(bindir).is_absolute() || fs::path(libdir).is_absolute())
    GTEST_SKIP() << "absolute install directories are not relocatable";
  struct {
    const char *generator;
    const char *suffix;
  } packages[] = {{"TGZ", ".tar.gz"}, {"DEB", ".deb"}};
  std::string probe;
  bool have_dpkg_deb = run_command({"sh", "-c", "command -v dpkg-deb"}, &probe);
  for (const auto &p : packages) {
    SCOPED_TRACE(p.generator);
    bool deb = std::string(p.generator) == "DEB";
    if (deb && !have_dpkg_deb) {
      std::cout << "DEB package not checked: dpkg-deb not found (Debian package dpkg)\n";
      continue;
    }
    scratch_dir tmp;
    std::string log;
    ASSERT_TRUE(run_command({ZOV_TEST_CPACK, "-G", p.generator, "-B", tmp.path() + "/out",
                             "--config", std::string(ZOV_TEST_BUILD_DIR) + "/CPackConfig.cmake"},
                            &log, tmp.path()))
        << log;
    std::vector<std::string> made;
    for (const auto &entry : fs::directory_iterator(tmp.path() + "/out"))
      if (entry.path().string().ends_with(p.suffix)) made.push_back(entry.path().string());
    ASSERT_EQ(made.size(), 1u) << log;

    // The TGZ holds one top directory, which becomes the compiler's tree;
    // the DEB holds the configured prefix, which becomes the tree below
    // wherever it is unpacked.
    std::string unpacked = tmp.path() + "/somewhere/else";
    make_dirs(unpacked);
    std::string root;
    if (deb) {
      ASSERT_TRUE(run_command({"dpkg-deb", "-x", made[0], unpacked}, &log)) << log;
      root = unpacked + ZOV_TEST_INSTALL_PREFIX;
      ASSERT_TRUE(run_command({"dpkg-deb", "-f", made[0], "Package"}, &log)) << log;
      EXPECT_EQ(log, package_name + "\n");
    } else {
      ASSERT_TRUE(run_command({"tar", "-xzf", made[0], "-C", unpacked}, &log)) << log;
      std::vector<fs::path> tops;
      for (const auto &entry : fs::directory_iterator(unpacked)) tops.push_back(entry.path());
      ASSERT_EQ(tops.size(), 1u) << "one top directory";
      root = tops[0].string();
    }
    std::string bin = root + "/" + bindir;
    add_compiler_files(root);

    std::string doc = root + "/" + ZOV_TEST_DATAROOTDIR + "/doc/" + package_name + "/";
    EXPECT_NE(read_file(doc + "LICENSE").find("MIT License"), std::string::npos);
    EXPECT_TRUE(file_exists(doc + "NEWS"));
    // Debian's policy has a package's manual pages compressed.
    for (const char *tool : {"ar", "nm", "ranlib"})
      EXPECT_TRUE(file_exists(root + "/" + ZOV_TEST_MANDIR + "/man1/" + program_prefix + "zov-" +
                              tool + (deb ? ".1.gz" : ".1")));

    std::string record = tmp.path() + "/record";
    for (const char *tool : {"ar", "nm", "ranlib"}) {
      SCOPED_TRACE(tool);
      std::string program = bin + "/" + program_prefix + "zov-" + tool;
      ASSERT_EQ(access(program.c_str(), X_OK), 0);
      expect_stripped(program);
      run_options options;
      options.env = {"ZOV_STAND_IN_RECORD=" + record};
      run_result r = run_program(program, {program, "t", "lib.a"}, options);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.exit_code(), 0);
      std::vector<std::string> user_args = {std::string(tool) == "ar" ? "-t" : "t", "lib.a"};
      EXPECT_EQ(read_tool_record(record).args, expected_tool_args(bin + "/", tool, user_args));
    }
  }
}

// Two cross compilers' front-ends in one bin directory, each named after
// its target and each with its compiler's tree beside the other's: every
// program must find its own compiler's tools and plugin, also when it is
// found along PATH or a copy is pointed back with ZOV_EXEC_PREFIX (which
// is joined with the target-prefixed name compiled into it).
TEST(Installed, TwoTargetsSideBySide) {
  struct compiler {
    std::string target, version;
  };
  std::vector<compiler> compilers;
  std::stringstream list(ZOV_TEST_SIDE_BY_SIDE);
  for (std::string item; std::getline(list, item, ',');) {
    size_t colon = item.find(':');
    compilers.push_back({item.substr(0, colon), item.substr(colon + 1)});
  }
  ASSERT_EQ(compilers.size(), 2u);

  scratch_dir tmp;
  std::string prefix = tmp.path() + "/usr";
  std::string log;
  ASSERT_TRUE(run_command({ZOV_TEST_CMAKE, "--install", ZOV_TEST_BUILD_DIR, "--prefix", prefix,
                           "--component", "zov_test_side_by_side"},
                          &log))
      << log;
  std::string bin = prefix + "/bin";
  for (const auto &c : compilers) add_compiler_files(prefix, c.target, c.version);

  std::string record = tmp.path() + "/record";
  for (const auto &c : compilers) {
    for (const char *tool : {"ar", "nm", "ranlib"}) {
      std::string name = c.target + "-zov-" + tool;
      SCOPED_TRACE(name);
      std::string decoy = tmp.path() + "/copies/" + name;
      copy_file(bin + "/" + name, decoy);
      // From the program's directory down into its own compiler's tree.
      std::string lib = bin + "/../lib/zov/" + c.target + "/" + c.version + "/";
      std::string libexec = bin + "/../libexec/zov/" + c.target + "/" + c.version + "/";
      std::vector<std::string> expected = {lib + "../../../../" + c.target + "/bin/" + tool,
                                           "--plugin", libexec + plugin_name,
                                           std::string(tool) == "ar" ? "-t" : "t", "lib.a"};
      struct {
        const char *how;
        std::string file, argv0;
        std::vector<std::string> env;
      } runs[] = {
          {"absolute path", bin + "/" + name, bin + "/" + name, {}},
          {"along PATH", bin + "/" + name, name, {"PATH=" + bin}},
          {"copy with ZOV_EXEC_PREFIX", decoy, decoy, {"ZOV_EXEC_PREFIX=" + bin + "/"}},
      };
      for (const auto &r : runs) {
        SCOPED_TRACE(r.how);
        run_options options;
        options.env = r.env;
        options.env.push_back("ZOV_STAND_IN_RECORD=" + record);
        run_result result = run_program(r.file, {r.argv0, "t", "lib.a"}, options);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exit_code(), 0);
        EXPECT_EQ(read_tool_record(record).args, expected);
        fs::remove(record);
      }
    }
  }
}

}  // namespace
