#include "update/SelfUpdate.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/Process.h"
#include "platform/Prompt.h"
#include "util/CodePage.h"
#include "util/Debug.h"
#include "util/FileWrite.h"
#include "util/Paths.h"
#include "util/Sha256.h"

namespace zarn {
namespace {

// Step 2 of the script, for the launcher path given (already quoted): the user's processes
// whose program is that file. The launcher that wrote the script may still be running and is
// then the script's parent: the script skips itself.
std::string StopLaunchersCommands(const std::string& quotedLauncher) {
  return "zarn_me=$(id -u)\n"
         "zarn_children() {\n"
         "  for zarn_s in /proc/[0-9]*/stat; do\n"
         "    zarn_l=\n"
         "    IFS= read -r zarn_l 2>/dev/null <\"$zarn_s\"\n"
         "    zarn_l=${zarn_l##*) }\n"
         "    set -- \"$1\" $zarn_l\n"
         "    if [ \"${3-}\" = \"$1\" ]; then zarn_s=${zarn_s%/stat}; echo \"${zarn_s#/proc/}\"; fi\n"
         "  done\n"
         "}\n"
         "zarn_stop() {\n"
         "  [ \"$1\" = \"$$\" ] && return\n"
         "  kill -STOP \"$1\" 2>/dev/null\n"
         "  for zarn_c in $(zarn_children \"$1\"); do zarn_stop \"$zarn_c\"; done\n"
         "  kill -KILL \"$1\" 2>/dev/null\n"
         "}\n"
         "for zarn_p in /proc/[0-9]*; do\n"
         "  zarn_p=${zarn_p#/proc/}\n"
         "  [ \"$zarn_p\" = \"$$\" ] && continue\n"
         "  [ \"/proc/$zarn_p/exe\" -ef " +
         quotedLauncher +
         " ] || continue\n"
         "  zarn_u=\n"
         "  while read -r zarn_k zarn_v zarn_r; do\n"
         "    if [ \"$zarn_k\" = Uid: ]; then zarn_u=$zarn_v; break; fi\n"
         "  done 2>/dev/null <\"/proc/$zarn_p/status\"\n"
         "  [ \"$zarn_u\" = \"$zarn_me\" ] && zarn_stop \"$zarn_p\"\n"
         "done\n";
}

// The ELF identification and machine of a program file's header.
struct ElfKind {
  unsigned char wordSize = 0, byteOrder = 0;
  uint16_t machine = 0, type = 0;
};

bool ReadElfKind(int fd, ElfKind* kind) {
  unsigned char header[20];
  size_t done = 0;
  while (done < sizeof header) {
    const ssize_t n = ::pread(fd, header + done, sizeof header - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  if (std::memcmp(header,
                  "\x7f"
                  "ELF",
                  4) != 0)
    return false;
  kind->wordSize = header[4];
  kind->byteOrder = header[5];
  const bool little = header[5] == 1;
  kind->type = little ? static_cast<uint16_t>(header[16] | header[17] << 8)
                      : static_cast<uint16_t>(header[16] << 8 | header[17]);
  kind->machine = little ? static_cast<uint16_t>(header[18] | header[19] << 8)
                         : static_cast<uint16_t>(header[18] << 8 | header[19]);
  return true;
}

bool OwnElfKind(ElfKind* kind) {
  const int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ReadElfKind(fd, kind);
  ::close(fd);
  return ok;
}

std::string_view FirstLine(std::string_view text) { return text.substr(0, text.find('\n')); }

// Runs program --version with nothing on its standard input and no display of its own; its
// first output line, or a reason why it did not answer in time with exit status 0.
bool AnswersVersion(const std::string& program, std::chrono::milliseconds limit, std::string* output,
                    std::string* reason) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    *reason = std::string("cannot run it: ") + std::strerror(errno);
    return false;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    *reason = std::string("cannot run it: ") + std::strerror(errno);
    ::close(out[0]);
    ::close(out[1]);
    return false;
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    // A program that ignores "--version" must not put a window on the player's screen.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::execl(program.c_str(), program.c_str(), "--version", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::setpgid(pid, pid);
  ::close(out[1]);
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool outputOpen = true, ended = false;
  int status = 0;
  while (!ended) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      ended = true;
      break;
    }
    pollfd fds[2];
    nfds_t count = 0;
    if (outputOpen) fds[count++] = {out[0], POLLIN, 0};
    if (pidfd >= 0) fds[count++] = {pidfd, POLLIN, 0};
    // Without a process descriptor (old kernels) the end is noticed within 10 ms.
    const int wait =
        pidfd >= 0 ? static_cast<int>(left.count()) : std::min<int>(10, static_cast<int>(left.count()));
    if (count == 0) {
      ::usleep(static_cast<useconds_t>(wait) * 1000);
      continue;
    }
    if (::poll(fds, count, wait) < 0 && errno != EINTR) break;
    if (outputOpen && fds[0].revents) {
      char buffer[4096];
      const ssize_t n = ::read(out[0], buffer, sizeof buffer);
      if (n > 0 && output->size() < 4096)
        output->append(buffer, static_cast<size_t>(n));
      else if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
        outputOpen = false;
    }
  }
  // What it wrote before it ended (a descendant may hold the pipe open: take only what is there).
  for (pollfd ready{out[0], POLLIN, 0};
       ended && outputOpen && output->size() < 4096 && ::poll(&ready, 1, 0) > 0;) {
    char buffer[4096];
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    output->append(buffer, static_cast<size_t>(n));
  }
  if (!ended) {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  if (pidfd >= 0) ::close(pidfd);
  ::close(out[0]);
  if (!ended) {
    *reason = "it did not answer --version within " + std::to_string(limit.count()) + " ms";
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *reason = WIFEXITED(status)
                  ? "it ended with status " + std::to_string(WEXITSTATUS(status)) + " on --version"
                  : "it was ended by signal " + std::to_string(WTERMSIG(status)) + " on --version";
    return false;
  }
  return true;
}

NewLauncherVerdict Refuse(const std::string& path, std::string reason) {
  ::unlink(path.c_str());
  DebugOutput("new launcher " + path + " refused: " + reason);
  return {false, std::move(reason)};
}

}  // namespace

std::string ReplacementScriptPath(const std::string& launcherDir) { return launcherDir + "/copy1597.sh"; }

std::string ShellQuote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  out += '\'';
  return out;
}

std::string KeptLauncherPath(const std::string& launcherPath) { return launcherPath + ".old"; }

std::string ReplacementScriptText(const std::string& launcherPath, const std::string& newFilePath,
                                  const std::string& scriptPath) {
  const std::string launcher = ShellQuote(launcherPath);
  const std::string kept = ShellQuote(KeptLauncherPath(launcherPath));
  const std::string putBack =
      "rm -f -- " + launcher + "; mv -f -- " + kept + " " + launcher + "; " + launcher + " &\n";
  std::string text = "#!/bin/sh\n";
  text += StopLaunchersCommands(launcher);
  text += "rm -f -- " + kept + "\n";
  text += "mv -f -- " + launcher + " " + kept + "\n";
  text +=
      "if cp -f -- " + ShellQuote(newFilePath) + " " + launcher + " && chmod +x -- " + launcher + "; then\n";
  text += "  " + launcher + " &\n";
  // Started: still running after a moment, or already ended well. Otherwise the old one returns.
  text += "  zarn_new=$!\n";
  text += "  sleep 2\n";
  text += "  zarn_l=\n";
  text += "  IFS= read -r zarn_l 2>/dev/null <\"/proc/$zarn_new/stat\"\n";
  text += "  zarn_l=${zarn_l##*) }\n";
  text += "  if [ -n \"$zarn_l\" ] && [ \"${zarn_l%% *}\" != Z ] || wait \"$zarn_new\"; then\n";
  text += "    rm -f -- " + kept + "\n";
  text += "  else\n";
  text += "    " + putBack;
  text += "  fi\n";
  text += "else\n";
  text += "  " + putBack;
  text += "fi\n";
  text += "rm -f -- " + ShellQuote(scriptPath);
  return text;
}

NewLauncherVerdict CheckNewLauncher(const std::string& path, const LauncherAnnouncement& announced,
                                    std::chrono::milliseconds limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return Refuse(path, "it cannot be opened");
  struct stat st;
  ElfKind kind, own;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const bool elf = regular && ReadElfKind(fd, &kind);
  ::close(fd);
  if (!regular) return Refuse(path, "it is not a file");
  if (st.st_size == 0) return Refuse(path, "it is empty");
  if (!elf) return Refuse(path, "it is not a program (no ELF header)");
  if (!OwnElfKind(&own)) return Refuse(path, "this launcher's own program cannot be read");
  if (kind.wordSize != own.wordSize || kind.byteOrder != own.byteOrder || kind.machine != own.machine)
    return Refuse(path, "it is a program for another machine (ELF machine " + std::to_string(kind.machine) +
                            ", this one " + std::to_string(own.machine) + ")");
  if (kind.type != 2 && kind.type != 3) return Refuse(path, "it is not an executable program");
  if (announced.size && static_cast<uint64_t>(st.st_size) != *announced.size)
    return Refuse(path, "it has " + std::to_string(st.st_size) + " bytes, the manifest announces " +
                            std::to_string(*announced.size));
  if (!announced.sha256.empty()) {
    std::string hex;
    if (!Sha256File(path, &hex)) return Refuse(path, "it cannot be read");
    std::string expected = announced.sha256;
    for (char& c : expected) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (hex != expected)
      return Refuse(path, "its SHA-256 is " + hex + ", the manifest announces " + announced.sha256);
  }
  if (::chmod(path.c_str(), (st.st_mode & 07777) | S_IRUSR | S_IXUSR) != 0)
    return Refuse(path, std::string("it cannot be made executable: ") + std::strerror(errno));
  std::string output, reason;
  if (!AnswersVersion(path, limit, &output, &reason)) return Refuse(path, reason);
  if (!announced.version.empty() && FirstLine(output) != announced.version)
    return Refuse(path, "it says it is version \"" + std::string(FirstLine(output)) +
                            "\", the manifest announces " + announced.version);
  return {true, {}};
}

bool WriteReplacementScript(const std::string& scriptPath, const std::string& text) {
  const int fd = ::open(scriptPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text);
  if (::close(fd) != 0) ok = false;
  return ok;
}

bool StartReplacementScript(const std::string& scriptPath, const std::string& launcherDir) {
  return StartDetached("/bin/sh", {scriptPath}, launcherDir);
}

SelfUpdateOutcome RunSelfUpdate(const std::string& launcherDir, const std::string& launcherPath,
                                const std::string& localPath) {
  if (MessageBox(Utf8ToAnsi("登陆器有更新，需要重启。"), Utf8ToAnsi("更新提示"), MB_OK) == 0)
    return SelfUpdateOutcome::kNotConfirmed;
  // Priority classes and shell change notifications have no counterpart here.
  const std::string scriptPath = ReplacementScriptPath(launcherDir);
  SelfUpdateOutcome outcome = SelfUpdateOutcome::kNotWritten;
  if (WriteReplacementScript(scriptPath, ReplacementScriptText(launcherPath, localPath, scriptPath))) {
    outcome = StartReplacementScript(scriptPath, launcherDir) ? SelfUpdateOutcome::kStarted
                                                              : SelfUpdateOutcome::kNotStarted;
  } else {
    DebugOutput("cannot write " + scriptPath);
  }
  ExitProcess(0);
  return outcome;
}

}  // namespace zarn
