// testing/files.h on Windows: paths are UTF-8 texts, reached through the
// wide interfaces (std::filesystem's u8path), and the scratch directory
// lies under the system's temporary directory.

#include <stdlib.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "testing/files.h"

namespace zov_test {

namespace fs = std::filesystem;

namespace {

fs::path u8(const std::string &path) {
  return fs::path(std::u8string(path.begin(), path.end()));
}

std::string text_of(const fs::path &path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string make_scratch() {
  std::error_code error;
  fs::path base = fs::temp_directory_path(error);
  if (error) throw std::runtime_error("no temporary directory");
  static unsigned serial;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path dir = base / ("zov-test." + std::to_string(GetCurrentProcessId()) + "." +
                           std::to_string(++serial));
    if (fs::create_directory(dir, error)) return text_of(fs::canonical(dir));
  }
  throw std::runtime_error("cannot make a scratch directory");
}

}  // namespace

scratch_dir::scratch_dir() : path_(make_scratch()) {}

scratch_dir::scratch_dir(const char *shared_as) : shared_as_(shared_as) {
  if (const char *inherited = getenv(shared_as)) {
    path_ = inherited;
    owned_ = false;
    return;
  }
  path_ = make_scratch();
  _putenv_s(shared_as, path_.c_str());
}

scratch_dir::~scratch_dir() {
  if (!owned_) return;
  if (shared_as_ != nullptr) _putenv_s(shared_as_, "");
  // DeleteFile refuses a read-only file, which a test may have left.
  std::error_code ignored;
  fs::recursive_directory_iterator entry(u8(path_), ignored);
  for (; !ignored && entry != fs::recursive_directory_iterator(); entry.increment(ignored))
    fs::permissions(entry->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  ignored.clear();
  fs::remove_all(u8(path_), ignored);
}

std::vector<std::string> scratch_dir::entries() const {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const fs::directory_entry &entry : fs::directory_iterator(u8(path_), ignored))
    names.push_back(text_of(entry.path().filename()));
  return names;
}

void make_dirs(const std::string &path) { fs::create_directories(u8(path)); }

// Windows knows no mode but read-only: a mode without the owner's write
// bit makes the file read-only.
void write_file(const std::string &path, const std::string &text, int mode) {
  make_dirs(text_of(u8(path).parent_path()));
  {
    std::ofstream out(u8(path), std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) ADD_FAILURE() << "cannot write " << path;
  }
  if ((mode & 0200) == 0)
    fs::permissions(u8(path), fs::perms::owner_write, fs::perm_options::remove);
}

std::string read_file(const std::string &path) {
  std::ifstream in(u8(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string read_all(FILE *stream) {
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, n);
  return text;
}

bool file_exists(const std::string &path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(u8(path), ignored));
}

void copy_file(const std::string &from, const std::string &to, int) {
  make_dirs(text_of(u8(to).parent_path()));
  fs::copy_file(u8(from), u8(to), fs::copy_options::overwrite_existing);
}

void make_symlink(const std::string &target, const std::string &link) {
  make_dirs(text_of(u8(link).parent_path()));
  fs::create_symlink(u8(target), u8(link));
}

std::string current_dir() { return text_of(fs::current_path()); }

void change_dir(const std::string &path) {
  std::error_code error;
  fs::current_path(u8(path), error);
  if (error) ADD_FAILURE() << "cannot change to " << path << ": " << error.message();
}

bool set_env(const char *name, const std::string &value) {
  return _putenv_s(name, value.c_str()) == 0 && !value.empty();
}

void unset_env(const char *name) { _putenv_s(name, ""); }

}  // namespace zov_test
