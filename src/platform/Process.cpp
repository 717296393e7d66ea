#include "platform/Process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/wait.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "util/CodePage.h"
#include "util/Debug.h"

extern char** environ;

namespace zarn {
namespace {

std::mutex g_mutex;
std::string g_modulePathOverride;
std::function<void(int)> g_exitHook;
std::function<void(const std::string&)> g_openUrlHook;

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string GetModulePath() {
  {
    std::lock_guard lock(g_mutex);
    if (!g_modulePathOverride.empty()) return g_modulePathOverride;
  }
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

void SetModulePathForTest(std::string path) {
  std::lock_guard lock(g_mutex);
  g_modulePathOverride = std::move(path);
}

void ExitProcess(int code) {
  std::function<void(int)> hook;
  {
    std::lock_guard lock(g_mutex);
    hook = g_exitHook;
  }
  if (hook) {
    hook(code);
    return;
  }
  std::fflush(nullptr);
  ::_exit(code);
}

void SetExitProcessHook(std::function<void(int)> hook) {
  std::lock_guard lock(g_mutex);
  g_exitHook = std::move(hook);
}

void OpenUrl(const std::string& url) {
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard lock(g_mutex);
    hook = g_openUrlHook;
  }
  if (hook) {
    hook(url);
    return;
  }
  StartDetached("xdg-open", {url});
}

void SetOpenUrlHook(std::function<void(const std::string&)> hook) {
  std::lock_guard lock(g_mutex);
  g_openUrlHook = std::move(hook);
}

std::vector<std::string> SplitParameters(const std::string& parameters) {
  std::vector<std::string> out;
  std::string current;
  bool inWord = false;
  for (char c : parameters) {
    if (c == ' ' || c == '\t') {
      if (inWord) out.push_back(current);
      current.clear();
      inWord = false;
    } else {
      current += c;
      inWord = true;
    }
  }
  if (inWord) out.push_back(current);
  return out;
}

std::string FindOnPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = dirs.substr(start, end - start);
    const std::string candidate = (dir.empty() ? std::string(1, '.') : dir) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

ProgramKind ClassifyProgram(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return ProgramKind::Missing;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ProgramKind::Unreadable;
  unsigned char head[4] = {};
  ssize_t n;
  do {
    n = ::read(fd, head, sizeof head);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n < 0) return ProgramKind::Unreadable;
  if (n >= 4 && std::memcmp(head,
                            "\x7F"
                            "ELF",
                            4) == 0)
    return ProgramKind::Native;
  if (n >= 2 && head[0] == '#' && head[1] == '!') return ProgramKind::Native;
  if (n >= 2 && head[0] == 'M' && head[1] == 'Z') return ProgramKind::Windows;
  return ProgramKind::Unknown;
}

std::string StartProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir) {
  std::vector<std::string> argv;
  std::string file = program;
  if (program.find('/') != std::string::npos) {
    switch (ClassifyProgram(program)) {
      case ProgramKind::Missing:
        return Utf8ToAnsi("找不到程序文件：") + program;
      case ProgramKind::Unreadable:
        return Utf8ToAnsi("无法读取程序文件：") + program;
      case ProgramKind::Unknown:
        return Utf8ToAnsi("这不是可以运行的程序：") + program;
      case ProgramKind::Windows:
        file = FindOnPath("wine");
        if (file.empty()) return Utf8ToAnsi("这是 Windows 程序，需要 wine，但 PATH 中没有 wine：") + program;
        argv.push_back(file);
        break;
      case ProgramKind::Native:
        break;
    }
  } else {
    file = FindOnPath(program);
    if (file.empty()) return Utf8ToAnsi("PATH 中没有这个程序：") + program;
  }
  argv.push_back(program);
  argv.insert(argv.end(), args.begin(), args.end());

  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());

  pid_t pid = 0;
  // glibc reports a failed exec of the child here (missing interpreter, no permission).
  const int rc = posix_spawn(&pid, file.c_str(), &actions, &attr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return Utf8ToAnsi("无法启动程序：") + program + " (" + std::strerror(rc) + ")";
  // A new session does not make init the parent: the child stays ours, and a finished child
  // stays a zombie until waited for. One blocked thread per child waits; no polling.
  std::thread([pid] {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return {};
}

bool StartDetached(const std::string& program, const std::vector<std::string>& args,
                   const std::string& workDir) {
  const std::string error = StartProgram(program, args, workDir);
  if (!error.empty()) DebugOutput(error);
  return error.empty();
}

}  // namespace zarn
