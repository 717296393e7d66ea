#include "update/SelfUpdate.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Process.h"
#include "platform/Prompt.h"
#include "util/CodePage.h"
#include "util/Debug.h"
#include "util/Paths.h"

namespace zarn {
namespace {

// The kernel keeps this many bytes of a program's file name as its process name.
constexpr size_t kProcessNameBytes = 15;

// Step 2 of the script, for the process name given (already quoted). The launcher that wrote
// the script may still be running and is then the script's parent: the script skips itself.
std::string StopLaunchersCommands(const std::string& quotedName) {
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
         "  zarn_n=\n"
         "  IFS= read -r zarn_n 2>/dev/null <\"/proc/$zarn_p/comm\"\n"
         "  [ \"$zarn_n\" = " +
         quotedName +
         " ] || continue\n"
         "  zarn_u=\n"
         "  while read -r zarn_k zarn_v zarn_r; do\n"
         "    if [ \"$zarn_k\" = Uid: ]; then zarn_u=$zarn_v; break; fi\n"
         "  done 2>/dev/null <\"/proc/$zarn_p/status\"\n"
         "  [ \"$zarn_u\" = \"$zarn_me\" ] && zarn_stop \"$zarn_p\"\n"
         "done\n";
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

std::string ReplacementScriptText(const std::string& launcherPath, const std::string& newFilePath,
                                  const std::string& scriptPath) {
  const std::string launcher = ShellQuote(launcherPath);
  const std::string processName = BaseFileName(launcherPath).substr(0, kProcessNameBytes);
  std::string text = "#!/bin/sh\n";
  text += "rm -f -- " + launcher + "\n";
  text += StopLaunchersCommands(ShellQuote(processName));
  text += "cp -f -- " + ShellQuote(newFilePath) + " " + launcher + "\n";
  text += "chmod +x -- " + launcher + "\n";
  text += launcher + " &\n";
  text += "rm -f -- " + ShellQuote(scriptPath);
  return text;
}

bool WriteReplacementScript(const std::string& scriptPath, const std::string& text) {
  const int fd = ::open(scriptPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
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
