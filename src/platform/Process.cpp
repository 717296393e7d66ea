#include "platform/Process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>

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

bool StartDetached(const std::string& program, const std::vector<std::string>& args,
                   const std::string& workDir) {
  std::vector<std::string> argv;
  std::string file = program;
  if (program.find('/') != std::string::npos) {
    struct stat st;
    if (::stat(program.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (::access(program.c_str(), X_OK) != 0) {
      // A Windows build of a program carries no execute permission; wine runs it.
      const std::string wine = FindOnPath("wine");
      if (wine.empty()) return false;
      file = wine;
      argv.push_back(wine);
    }
  } else {
    file = FindOnPath(program);
    if (file.empty()) return false;
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
  const int rc = posix_spawn(&pid, file.c_str(), &actions, &attr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  // The child belongs to its own session; nobody waits for it, so let init reap it.
  return rc == 0;
}

}  // namespace zarn
