// End-to-end tests of the Windows front-ends: each runs zov-nm.exe (or
// zov-ar.exe) in a fresh install tree under the temporary directory, in a
// folder whose name holds spaces and non-ASCII letters, with the stand-in
// tool in the place of the real one.  The programs are started through the
// Windows back-end (pex_add_stage_env), whose argument passing the tool's
// record checks end to end.

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <string>
#include <vector>

#include "pex/pex.h"
#include "pex/pex_command_line.h"
#include "testing/files.h"
#include "testing/process.h"

namespace {

const std::string target = ZOV_TEST_TARGET;
const std::string version = ZOV_TEST_VERSION;
const std::string prefixed_nm = target + "-nm";

std::wstring wide(const std::string &text) {
  int count = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out((size_t)count - 1, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), count);
  return out;
}

std::string utf8(const std::wstring &text) {
  int count = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out((size_t)count - 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), count, nullptr, nullptr);
  return out;
}

// A build-tree path as Windows names it ("/work/..." under Wine is Z:\work\...).
std::string windows_path(const std::string &path) {
  wchar_t full[MAX_PATH * 4];
  DWORD n = GetFullPathNameW(wide(path).c_str(), MAX_PATH * 4, full, nullptr);
  return n > 0 ? utf8(full) : path;
}

using zov_test::copy_file;
using zov_test::file_exists;
using zov_test::make_dirs;
using zov_test::read_file;
using zov_test::write_file;

void remove_tree(const std::wstring &dir) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = dir + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        remove_tree(path);
      else
        DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(dir.c_str());
}

// A fresh folder under the temporary directory, named with a space, a
// Latin letter outside ASCII and CJK ones, removed afterwards.
class scratch_dir {
 public:
  scratch_dir() {
    wchar_t base[MAX_PATH + 2];
    GetTempPathW(MAX_PATH + 2, base);
    static int serial;
    path_ = utf8(base) + "zov test Zoë 漢字 " + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++serial);
    make_dirs(path_);
  }
  ~scratch_dir() { remove_tree(wide(path_)); }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

struct tree {
  std::string root;
  std::string bin() const { return root + "\\bin"; }
  std::string tool_dir() const { return root + "\\" + target + "\\bin"; }
  std::string plugin_dir() const { return root + "\\libexec\\zov\\" + target + "\\" + version; }
  // The texts a program in bin\ builds: its directory as the system names
  // it, then the install-tree suffixes.
  std::string tool_text(const std::string &tool) const {
    return root + "\\bin\\../lib/zov/" + target + "/" + version + "/../../../../" + target +
           "/bin/" + tool;
  }
  std::string plugin_text() const {
    return root + "\\bin\\../libexec/zov/" + target + "/" + version + "/libqel_plugin.dll";
  }
  std::string add_program(const std::string &name) const {
    make_dirs(root + "\\lib\\zov\\" + target + "\\" + version);
    std::string path = bin() + "\\" + name;
    copy_file(windows_path(std::string(ZOV_TEST_PROGRAMS_DIR) + "/" + name), path);
    return path;
  }
  void add_plugin() const {
    make_dirs(plugin_dir());
    write_file(plugin_dir() + "\\libqel_plugin.dll", "");
  }
  static void add_tool_in(const std::string &dir, const std::string &name) {
    copy_file(windows_path(ZOV_TEST_STAND_IN), dir + "\\" + name);
  }
  std::string complete(const std::string &program) const {
    add_plugin();
    add_tool_in(tool_dir(), program == "zov-ar.exe" ? "ar.exe" : "nm.exe");
    return add_program(program);
  }
};

struct run_result {
  bool started = false;
  unsigned exit_code = 0;
  std::string out;
  std::string err;
};

// The test's own environment in UTF-8, without PATH and the variables the
// programs and the stand-in read, then `env`; PATH names a folder that
// does not exist unless `env` sets it.
std::vector<std::string> child_environment(const std::vector<std::string> &env) {
  std::vector<std::string> entries;
  for (wchar_t **entry = _wenviron; entry != nullptr && *entry != nullptr; ++entry) {
    std::string text = utf8(*entry);
    if (_strnicmp(text.c_str(), "PATH=", 5) == 0 || text.rfind("ZOV_", 0) == 0) continue;
    entries.push_back(text);
  }
  bool path_set = false;
  for (const std::string &e : env) path_set |= _strnicmp(e.c_str(), "PATH=", 5) == 0;
  if (!path_set) entries.push_back("PATH=C:\\nonexistent\\zov-test-path");
  entries.insert(entries.end(), env.begin(), env.end());
  return entries;
}

run_result run(const std::string &program, std::vector<std::string> argv,
               const std::vector<std::string> &env = {}, const std::string &cwd = "") {
  scratch_dir io;
  std::string out = io.path() + "\\out", err = io.path() + "\\err";
  std::vector<std::string> environment = child_environment(env);
  zov_test::arg_vector args(argv), envp(environment);
  wchar_t here[MAX_PATH * 4];
  GetCurrentDirectoryW(MAX_PATH * 4, here);
  if (!cwd.empty()) SetCurrentDirectoryW(wide(cwd).c_str());
  run_result result;
  pex_pipeline *pipeline = pex_create(0, "windows_test", nullptr);
  int error = 0, status = 0;
  const char *message = pex_add_stage_env(pipeline, PEX_FINAL_STAGE, program.c_str(), args.get(),
                                          envp.get(), out.c_str(), err.c_str(), &error);
  result.started = message == nullptr && pex_get_status(pipeline, 1, &status);
  pex_release(pipeline);
  SetCurrentDirectoryW(here);
  EXPECT_EQ(message, nullptr) << "error " << error;
  result.exit_code = (unsigned)status;
  result.out = read_file(out);
  result.err = read_file(err);
  return result;
}

// What the stand-in saw: its arguments and any response file's bytes.
struct tool_record {
  bool present = false;
  std::vector<std::string> args;
  std::string response_file;
};

std::string unescaped(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      out += text[i + 1] == 'n' ? '\n' : text[i + 1];
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

tool_record read_record(const std::string &path) {
  tool_record record;
  std::string text = read_file(path);
  record.present = file_exists(path);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.rfind("arg:", 0) == 0) record.args.push_back(unescaped(line.substr(4)));
    if (line.rfind("rsp:", 0) == 0) {
      size_t length = std::stoul(line.substr(4));
      record.response_file = text.substr(at, length);
      at += length;
    }
  }
  return record;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The command line that argv makes, as the tool is started with it (and
// the trace shows it).
std::string command_line_of(const std::vector<std::string> &argv) {
  zov_test::arg_vector args(argv);
  char *line = command_line_from_argv(args.get());
  std::string text = line;
  free(line);
  return text;
}

size_t command_line_length(const std::vector<std::string> &argv) {
  return command_line_utf16_length(command_line_of(argv).c_str());
}

// The trace's "running" line, without its newline; "" when there is none.
std::string running_line(const std::string &err) {
  const std::string opening = "zov-nm: running ";
  size_t at = err.find(opening);
  if (at == std::string::npos) return "";
  return err.substr(at + opening.size(), err.find('\n', at) - at - opening.size());
}

class WindowsFrontend : public testing::Test {
 protected:
  scratch_dir scratch;
  std::string record_path = scratch.path() + "\\record";
  std::string record_env = "ZOV_STAND_IN_RECORD=" + record_path;
  tree t{scratch.path() + "\\tree"};
};

const std::vector<std::string> hostile_arguments = {
    "plain", "", "a b", "tab\there", "new\nline", "\"", "say \"hi\"", "C:\\dir\\file.o",
    "C:\\dir with space\\", "a\\\"b", "a\\\\\"b", "\\\\", "trailing\\\\", "@not-a-file",
    "Zoë", "漢字 フォルダ\\x.o", "--plugin", "--",
};

TEST_F(WindowsFrontend, TheToolGetsExactlyTheArgumentsBehindThePlugin) {
  std::string program = t.complete("zov-nm.exe");
  run_result r = run(program, concat({program}, hostile_arguments), {record_env});
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  EXPECT_EQ(r.err, "");
  tool_record record = read_record(record_path);
  ASSERT_TRUE(record.present) << r.err;
  EXPECT_EQ(record.args,
            concat({t.tool_text("nm.exe"), "--plugin", t.plugin_text()}, hostile_arguments));
}

// The trace's command is the line the tool is started with, quoted for
// Windows (a POSIX shell's single quotes would mean nothing there).
TEST_F(WindowsFrontend, TheTraceShowsTheCommandLineAsStarted) {
  std::string program = t.complete("zov-nm.exe");
  run_result r = run(program, concat({program}, hostile_arguments), {record_env, "ZOV_TRACE=1"});
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  // An argument may hold a newline: the line is looked for whole.
  const std::string line = "zov-nm: running " +
                           command_line_of(concat({t.tool_text("nm.exe"), "--plugin",
                                                   t.plugin_text()},
                                                  hostile_arguments)) +
                           "\n";
  EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
}

// The front-end's own variables too, as cmd.exe and PowerShell keep
// whatever case the user typed.
TEST_F(WindowsFrontend, ItsOwnVariablesAreNamedWithoutRegardToCase) {
  std::string program = t.complete("zov-nm.exe");
  run_result r = run(program, {program, "x.o"}, {record_env, "zov_Trace=1"});
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  EXPECT_NE(running_line(r.err), "") << r.err;

  // A copy outside the tree finds the tool only through the prefix.
  std::string copy = scratch.path() + "\\elsewhere\\zov-nm.exe";
  copy_file(t.bin() + "\\zov-nm.exe", copy);
  r = run(copy, {copy, "x.o"}, {record_env, "Zov_Exec_Prefix=" + t.bin() + "\\"});
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  tool_record record = read_record(record_path);
  ASSERT_TRUE(record.present) << r.err;
  EXPECT_EQ(record.args.at(0).rfind(t.bin() + "\\../", 0), 0u) << record.args.at(0);
}

// A front-end found where the tool should be (here B's, as the
// target-prefixed tool along Path) is told by ZOV_FRONTEND that another
// started it, and runs nothing: two that each find the other would start
// each other without end.
TEST_F(WindowsFrontend, AFrontEndStartedByAnotherRunsNothing) {
  tree b{scratch.path() + "\\tree B"};
  b.complete("zov-nm.exe");
  copy_file(b.bin() + "\\zov-nm.exe", b.bin() + "\\" + prefixed_nm + ".exe");
  t.add_plugin();
  std::string program = t.add_program("zov-nm.exe");
  run_result r = run(program, {program, "x.o"}, {record_env, "Path=" + b.bin()});
  EXPECT_EQ(r.exit_code, 1u) << r.err;
  EXPECT_NE(r.err.find(": started by the front-end " + program + "; not running " +
                       b.tool_text("nm.exe") +
                       ", so that front-ends cannot start each other without end\n"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(read_record(record_path).present);
}

TEST_F(WindowsFrontend, ArDashesItsFirstWordAndTakesDashB) {
  std::string program = t.complete("zov-ar.exe");
  std::string extra = scratch.path() + "\\extra dir";
  make_dirs(extra);
  run_result r = run(program, {"zov-ar", "rcs", "-B", extra, "lib.a", "x y.o"}, {record_env});
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  EXPECT_EQ(read_record(record_path).args,
            (std::vector<std::string>{t.tool_text("ar.exe"), "--plugin", t.plugin_text(), "-rcs",
                                      "lib.a", "x y.o"}));
}

// Argument 0 is whatever the caller wrote; the tree is found from the file
// the system started, wherever the tree was moved.
TEST_F(WindowsFrontend, AMovedTreeIsFoundFromTheProgramsOwnFile) {
  t.complete("zov-nm.exe");
  tree moved{scratch.path() + "\\moved tree Zoë"};
  ASSERT_TRUE(MoveFileExW(wide(t.root).c_str(), wide(moved.root).c_str(), 0));
  run_result r = run(moved.bin() + "\\zov-nm.exe", {"zov-nm", "x.o"}, {record_env});
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  EXPECT_EQ(read_record(record_path).args,
            (std::vector<std::string>{moved.tool_text("nm.exe"), "--plugin",
                                      moved.plugin_text(), "x.o"}));
}

TEST_F(WindowsFrontend, ExecPrefixEndingInEitherSeparatorPointsBackAtTheTree) {
  t.complete("zov-nm.exe");
  std::string copy = scratch.path() + "\\elsewhere\\zov-nm.exe";
  copy_file(t.bin() + "\\zov-nm.exe", copy);
  for (const std::string &prefix : {t.bin() + "\\", t.bin() + "/"}) {
    SCOPED_TRACE(prefix);
    run_result r = run(copy, {copy}, {record_env, "ZOV_EXEC_PREFIX=" + prefix});
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    // The program's path is made canonical before it is compared, as on
    // POSIX: here with the system's separator.
    std::string dir = t.bin() + "\\../";
    EXPECT_EQ(read_record(record_path).args,
              (std::vector<std::string>{
                  dir + "lib/zov/" + target + "/" + version + "/../../../../" + target +
                      "/bin/nm.exe",
                  "--plugin", dir + "libexec/zov/" + target + "/" + version + "/libqel_plugin.dll"}));
  }
}

// Spelled "Path" as Windows itself spells it: names of variables are the
// same whatever their case.
TEST_F(WindowsFrontend, TheTargetPrefixedToolIsFoundAlongPathSplitAtSemicolons) {
  t.add_plugin();
  std::string program = t.add_program("zov-nm.exe");
  std::string empty = scratch.path() + "\\empty", tools = scratch.path() + "\\tools Zoë";
  make_dirs(empty);
  tree::add_tool_in(tools, prefixed_nm + ".exe");
  run_result r =
      run(program, {program, "x.o"},
          {record_env, "Path=C:\\nonexistent;" + empty + ";" + tools + ";C:\\other"});
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  EXPECT_EQ(read_record(record_path).args,
            (std::vector<std::string>{tools + "/" + prefixed_nm + ".exe", "--plugin",
                                      t.plugin_text(), "x.o"}));
}

// Windows' own search for a bare name looks in the working directory
// first; the front-end never does, unless an empty -B asks for it.
TEST_F(WindowsFrontend, AToolPlantedInTheWorkingDirectoryDoesNotRun) {
  t.add_plugin();
  std::string program = t.add_program("zov-nm.exe");
  std::string cwd = scratch.path() + "\\work";
  make_dirs(cwd);
  tree::add_tool_in(cwd, "nm.exe");
  tree::add_tool_in(cwd, prefixed_nm + ".exe");
  write_file(cwd + "\\libqel_plugin.dll", "");
  run_result r = run(program, {"zov-nm", "x.o"}, {record_env}, cwd);
  EXPECT_EQ(r.exit_code, 1u);
  EXPECT_EQ(r.err, "zov-nm: Cannot find binary '" + prefixed_nm + "'\n");
  EXPECT_FALSE(read_record(record_path).present);

  r = run(program, {"zov-nm", "-B", "", "x.o"}, {record_env}, cwd);
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  EXPECT_EQ(read_record(record_path).args,
            (std::vector<std::string>{"./nm.exe", "--plugin", "./libqel_plugin.dll", "x.o"}));
}

// binutils' reading of a response file: white space separates, quotes
// group, a backslash takes the next character.
std::vector<std::string> response_words(const std::string &text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isspace((unsigned char)text[i])) ++i;
    if (i == text.size()) break;
    std::string word;
    char quote = 0;
    for (; i < text.size() && (quote || !isspace((unsigned char)text[i])); ++i) {
      char c = text[i];
      if (c == '\\' && i + 1 < text.size())
        word += text[++i];
      else if (quote && c == quote)
        quote = 0;
      else if (!quote && (c == '"' || c == '\''))
        quote = c;
      else
        word += c;
    }
    words.push_back(word);
  }
  return words;
}

TEST_F(WindowsFrontend, ACommandLineOverTheLimitGoesInAResponseFile) {
  std::string program = t.complete("zov-nm.exe");
  std::string temp = scratch.path() + "\\temp Zoë";
  make_dirs(temp);
  // The front-end's own command line fits; the tool's, with the longer
  // tool path and the plugin in front, does not.
  std::vector<std::string> user;
  for (int i = 0; command_line_length(concat({program}, user)) < command_line_limit - 2000; ++i)
    user.push_back("C:\\objects with spaces\\" + std::string(900, 'a' + i % 26) + "\\" +
                   std::to_string(i) + " \"q\".o");
  user.push_back("");
  user.push_back(std::string(command_line_limit - 10 - command_line_length(concat({program}, user)), 'z'));
  run_result r = run(program, concat({program}, user),
                     {record_env, "TMPDIR=", "TMP=" + temp, "TEMP=C:\\nonexistent", "ZOV_TRACE=1"});
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  tool_record record = read_record(record_path);
  ASSERT_EQ(record.args.size(), 4u);
  // The trace shows the command that ran: the response file, not the line
  // that would not fit.
  EXPECT_EQ(running_line(r.err), command_line_of(record.args));
  EXPECT_EQ(record.args[1], "--plugin");
  EXPECT_EQ(record.args[2], t.plugin_text());
  EXPECT_EQ(record.args[3].rfind("@" + temp + "/cc", 0), 0u) << record.args[3];
  EXPECT_EQ(response_words(record.response_file), user);
  // Removed once the tool has ended.
  EXPECT_FALSE(file_exists(record.args[3].substr(1)));
}

TEST_F(WindowsFrontend, ACommandLineJustUnderTheLimitIsPassedAsItIs) {
  std::string program = t.complete("zov-nm.exe");
  std::vector<char *> head = {nullptr};
  std::string fixed = "\"" + t.tool_text("nm.exe") + "\" --plugin \"" + t.plugin_text() + "\" ";
  size_t room = command_line_limit - command_line_utf16_length(fixed.c_str());
  std::string word(room, 'x');
  run_result r = run(program, {program, word}, {record_env});
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  tool_record record = read_record(record_path);
  ASSERT_EQ(record.args.size(), 4u);
  EXPECT_EQ(record.args[3], word);
}

TEST_F(WindowsFrontend, TheToolsExitCodeIsRelayedWhole) {
  std::string program = t.complete("zov-nm.exe");
  for (unsigned code : {0u, 1u, 2u, 255u, 256u, 0x12345678u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(code);
    run_result r = run(program, {program}, {"ZOV_STAND_IN_EXIT=" + std::to_string(code)});
    EXPECT_EQ(r.exit_code, code);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(WindowsFrontend, AToolEndedByAnExceptionIsToldLikeASignalDeath) {
  std::string program = t.complete("zov-nm.exe");
  run_result r = run(program, {program}, {"ZOV_STAND_IN_EXCEPTION=1"});
  EXPECT_EQ(r.exit_code, 1u);
  EXPECT_EQ(r.err, t.tool_text("nm.exe") + " terminated with exception 0xC0000005 [Access violation]\n");
}

TEST_F(WindowsFrontend, AToolThatIsNoProgramCannotBeStarted) {
  t.add_plugin();
  std::string program = t.add_program("zov-nm.exe");
  make_dirs(t.tool_dir());
  write_file(t.tool_dir() + "\\nm.exe", "not a program\n");
  run_result r = run(program, {program});
  EXPECT_EQ(r.exit_code, 1u);
  EXPECT_EQ(r.err, "Error running " + t.tool_text("nm.exe") + ": CreateProcessW\n");
}

}  // namespace
