#include "testing/files.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

namespace zov_test {

namespace fs = std::filesystem;

namespace {

std::string make_scratch() {
  const char *base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zov-test.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("mkdtemp " + pattern + " failed");
  return fs::canonical(pattern).string();
}

// A test may leave a directory without read, write or search permission;
// for anyone but root that would stop the removal of what is inside.
void remove_tree(const fs::path &path) {
  std::error_code ignored;
  if (fs::is_directory(fs::symlink_status(path, ignored))) {
    chmod(path.c_str(), 0700);
    for (const fs::directory_entry &entry : fs::directory_iterator(path, ignored))
      remove_tree(entry.path());
  }
  fs::remove(path, ignored);
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
  setenv(shared_as, path_.c_str(), 1);
}

scratch_dir::~scratch_dir() {
  if (!owned_) return;
  if (shared_as_ != nullptr) unsetenv(shared_as_);
  remove_tree(path_);
}

std::vector<std::string> scratch_dir::entries() const {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const fs::directory_entry &entry : fs::directory_iterator(path_, ignored))
    names.push_back(entry.path().filename().string());
  return names;
}

void make_dirs(const std::string &path) { fs::create_directories(path); }

void write_file(const std::string &path, const std::string &text, int mode) {
  make_dirs(fs::path(path).parent_path().string());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) ADD_FAILURE() << "cannot write " << path;
  }
  chmod(path.c_str(), (mode_t)mode);
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
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
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void copy_file(const std::string &from, const std::string &to, int mode) {
  make_dirs(fs::path(to).parent_path().string());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  chmod(to.c_str(), (mode_t)mode);
}

void make_symlink(const std::string &target, const std::string &link) {
  make_dirs(fs::path(link).parent_path().string());
  fs::create_symlink(target, link);
}

std::string current_dir() { return fs::current_path().string(); }

void change_dir(const std::string &path) {
  if (chdir(path.c_str()) != 0) ADD_FAILURE() << "cannot change to " << path;
}

bool set_env(const char *name, const std::string &value) {
  return setenv(name, value.c_str(), 1) == 0;
}

void unset_env(const char *name) { unsetenv(name); }

}  // namespace zov_test
