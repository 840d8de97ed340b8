// The Windows back-end's spawn_child: starting one child with
// CreateProcessW.
//
//  - The program is always named by the full path that was checked
//    (lpApplicationName): the system's own search for a bare name would
//    look in the program's directory and the working directory first, and
//    could run a planted file.  With PEX_USE_PATH a name without a
//    separator is looked for here, along the child's PATH, and only there.
//  - The child inherits exactly its three standard handles: inheritable
//    copies of them, named in an explicit handle list, so that no other
//    inheritable handle of this process (another thread's, a library's)
//    leaks into it.
//  - The command line is built by the C runtime's splitting rules run
//    backwards (pex_command_line.cc), so the child's argv is argv.
//  - Everything passes through UTF-16: names, arguments and environment.
// A failed start is the failed call's name and GetLastError's code.

#include <io.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "pex/pex_command_line.h"
#include "pex/pex_win32.h"
#include "support/support.h"
#include "support/wide_text.h"

namespace {

bool is_separator(wchar_t c) { return c == L'/' || c == L'\\'; }

// The value of PATH in a UTF-8 environment vector (names compare without
// regard to case on Windows); null when it is not set.
const char *path_in(char *const *envp) {
  for (char *const *entry = envp; entry != nullptr && *entry != nullptr; ++entry)
    if (_strnicmp(*entry, "PATH=", 5) == 0) return *entry + 5;
  return nullptr;
}

bool is_file(const wchar_t *path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// name (".exe" added unless it ends so) under each entry of search_list,
// ';'-separated, in order; empty entries are passed over, as the working
// directory is never searched.  A new string, or null.
wchar_t *find_along(const wchar_t *name, const wchar_t *search_list) {
  size_t name_length = wcslen(name);
  bool add_suffix = name_length < 4 || _wcsicmp(name + name_length - 4, L".exe") != 0;
  size_t size = wcslen(search_list) + name_length + 6;
  wchar_t *candidate = (wchar_t *)must_malloc(size * sizeof(wchar_t));
  for (const wchar_t *entry = search_list; *entry != L'\0';) {
    size_t length = wcscspn(entry, L";");
    if (length > 0) {
      wmemcpy(candidate, entry, length);
      if (!is_separator(entry[length - 1])) candidate[length++] = L'\\';
      wcscpy(candidate + length, name);
      if (add_suffix) wcscat(candidate, L".exe");
      if (is_file(candidate)) return candidate;
    }
    entry += length;
    if (*entry == L';') ++entry;
  }
  free(candidate);
  return nullptr;
}

// The file to start: the executable as given, or with PEX_USE_PATH and no
// separator, what the child's PATH holds under that name.  Null with
// *error set when there is none.
wchar_t *program_file(int flags, const char *executable, char *const *envp, DWORD *error) {
  wchar_t *wide = wide_from_utf8(executable);
  bool bare = wcspbrk(wide, L"/\\:") == nullptr;
  if ((flags & PEX_USE_PATH) == 0 || !bare || wide[0] == L'\0') return wide;
  const char *search_list = path_in(envp);
  wchar_t *wide_list = wide_from_utf8(search_list != nullptr ? search_list : "");
  wchar_t *found = find_along(wide, wide_list);
  free(wide_list);
  free(wide);
  if (found == nullptr) *error = ERROR_FILE_NOT_FOUND;
  return found;
}

// "NAME=value\0...\0\0" in UTF-16 from a UTF-8 vector.
wchar_t *environment_block(char *const *envp) {
  size_t total = 1;
  for (char *const *entry = envp; *entry != nullptr; ++entry)
    total += command_line_utf16_length(*entry) + 1;
  wchar_t *block = (wchar_t *)must_malloc((total + 1) * sizeof(wchar_t));
  wchar_t *out = block;
  for (char *const *entry = envp; *entry != nullptr; ++entry) {
    int room = (int)(total - (size_t)(out - block));
    int written = MultiByteToWideChar(CP_UTF8, 0, *entry, -1, out, room);
    if (written > 0) out += written;
  }
  if (out == block) *out++ = L'\0';  // an empty block still ends in two
  *out = L'\0';
  return block;
}

// The child's three standard handles, inheritable copies of the
// descriptors' own (which are not inheritable).  A descriptor without a
// handle (a program started with no console) gives none.
struct child_handles {
  HANDLE standard[3];
  HANDLE list[3];  // the distinct valid ones, for the attribute list
  int count;
};

bool duplicate_standard(const int fds[3], bool merge_stderr, child_handles *handles,
                        DWORD *error) {
  handles->count = 0;
  HANDLE self = GetCurrentProcess();
  for (int i = 0; i < 3; ++i) {
    handles->standard[i] = nullptr;
    int fd = (i == 2 && merge_stderr) ? fds[1] : fds[i];
    HANDLE own = (HANDLE)_get_osfhandle(fd);
    if (own == INVALID_HANDLE_VALUE || own == nullptr) continue;
    HANDLE copy;
    if (!DuplicateHandle(self, own, self, &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
      *error = GetLastError();
      return false;
    }
    handles->standard[i] = copy;
    handles->list[handles->count++] = copy;
  }
  return true;
}

void close_handles(child_handles *handles) {
  for (int i = 0; i < handles->count; ++i) CloseHandle(handles->list[i]);
  handles->count = 0;
}

// The attribute list naming the handles the child may inherit.  Null with
// *step and *error set when it cannot be made.
LPPROC_THREAD_ATTRIBUTE_LIST handle_list(child_handles *handles, const char **step,
                                         DWORD *error) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  auto list = (LPPROC_THREAD_ATTRIBUTE_LIST)must_malloc(size);
  if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
    *step = "InitializeProcThreadAttributeList";
    *error = GetLastError();
    free(list);
    return nullptr;
  }
  if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles->list,
                                 (SIZE_T)handles->count * sizeof(HANDLE), nullptr, nullptr)) {
    *step = "UpdateProcThreadAttribute";
    *error = GetLastError();
    DeleteProcThreadAttributeList(list);
    free(list);
    return nullptr;
  }
  return list;
}

struct start_request {
  wchar_t *program;
  wchar_t *command_line;
  wchar_t *environment;
  child_handles handles;
};

// CreateProcessW with the request's handles listed.  Returns the process
// handle, or null with *step and *error set.
HANDLE create_process(start_request *request, const char **step, DWORD *error) {
  STARTUPINFOEXW info;
  memset(&info, 0, sizeof info);
  info.StartupInfo.cb = sizeof info;
  info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  info.StartupInfo.hStdInput = request->handles.standard[0];
  info.StartupInfo.hStdOutput = request->handles.standard[1];
  info.StartupInfo.hStdError = request->handles.standard[2];
  DWORD creation = CREATE_UNICODE_ENVIRONMENT;
  bool inherit = request->handles.count > 0;
  if (inherit) {
    info.lpAttributeList = handle_list(&request->handles, step, error);
    if (info.lpAttributeList == nullptr) return nullptr;
    creation |= EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION process;
  BOOL started = CreateProcessW(request->program, request->command_line, nullptr, nullptr,
                                inherit, creation, request->environment, nullptr,
                                &info.StartupInfo, &process);
  if (!started) {
    *step = "CreateProcessW";
    *error = GetLastError();
  }
  if (info.lpAttributeList != nullptr) {
    DeleteProcThreadAttributeList(info.lpAttributeList);
    free(info.lpAttributeList);
  }
  if (!started) return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

// Everything but the descriptors' bookkeeping.  Null with *step and
// *error set when no child was started.
HANDLE start(int flags, const char *executable, char *const *argv, char *const *envp,
             const int fds[3], const char **step, DWORD *error) {
  start_request request = {nullptr, nullptr, nullptr, {{}, {}, 0}};
  HANDLE process = nullptr;
  *step = "CreateProcessW";
  request.program = program_file(flags, executable, envp, error);
  char *line = request.program != nullptr ? command_line_from_argv(argv) : nullptr;
  if (line != nullptr && command_line_utf16_length(line) > command_line_limit) {
    *error = ERROR_FILENAME_EXCED_RANGE;  // the caller's to avoid (a response file)
  } else if (line != nullptr) {
    request.command_line = wide_from_utf8(line);
    if (!duplicate_standard(fds, (flags & PEX_MERGE_STDERR) != 0, &request.handles, error)) {
      *step = "DuplicateHandle";
    } else {
      request.environment = environment_block(envp);
      process = create_process(&request, step, error);
    }
  }
  close_handles(&request.handles);
  free(line);
  free(request.program);
  free(request.command_line);
  free(request.environment);
  return process;
}

}  // namespace

pid_t pex_win32_spawn_child(pex_pipeline *, int flags, const char *executable,
                            char *const *argv, char *const *env, int in, int out, int errdes,
                            int, const char **errmsg, int *err) {
  // toclose needs nothing: no descriptor of ours is inheritable.
  int fds[3] = {in, out, errdes};
  DWORD error = 0;
  const char *step;
  HANDLE process = start(flags, executable, argv, env != nullptr ? env : _environ, fds, &step,
                         &error);
  if (process == nullptr) {
    *errmsg = step;
    *err = (int)error;
    return -1;
  }
  if (in != 0) _close(in);
  if (out != 1) _close(out);
  if (errdes != 2) _close(errdes);
  return (pid_t)(intptr_t)process;
}
