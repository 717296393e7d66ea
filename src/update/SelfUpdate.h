// Replacement of the launcher by its newly downloaded version: a small shell script stops the
// user's launchers running from this launcher's path, keeps the old executable aside, copies
// the new file over the old path, starts it, drops the old file once the new one has started
// (or puts it back when the new one cannot start) and deletes itself; the launcher starts the
// script and ends. Before that, the downloaded file is proven to be a launcher for this machine.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zarn {

// launcherDir + "/copy1597.sh".
std::string ReplacementScriptPath(const std::string& launcherDir);

// text in single quotes for the shell: names exactly that text, whatever it holds.
std::string ShellQuote(std::string_view text);

// What the version manifest announces about the new launcher, when it does.
struct LauncherAnnouncement {
  std::optional<uint64_t> size;
  std::string sha256;   // hex; empty: not announced
  std::string version;  // the announced version text; empty: not compared
};

struct NewLauncherVerdict {
  bool ok = false;
  std::string reason;  // why the file was refused
  explicit operator bool() const { return ok; }
};

// How long the new launcher may take to answer "--version".
inline constexpr std::chrono::milliseconds kVersionAnswerLimit{5000};

// Proves the downloaded file at path can replace the launcher: not empty, an ELF program of the
// running machine (word size, byte order and machine of this process's own program), of the
// announced size and SHA-256 when they are given, and it starts: run with "--version" it exits
// with 0 within limit (and, when a version was announced, prints it). A refused file is
// deleted; the running launcher is untouched. The caller then shows the failed-download prompt.
NewLauncherVerdict CheckNewLauncher(const std::string& path, const LauncherAnnouncement& announced,
                                    std::chrono::milliseconds limit = kVersionAnswerLimit);

// The old launcher's place while the new one starts: launcherPath + ".old" ("zarn.old").
std::string KeptLauncherPath(const std::string& launcherPath);

// The script for a launcher at launcherPath whose new version was saved at newFilePath; the
// script deletes itself (scriptPath) last. Lines end in "\n", the last line has none.
// Running launchers are the user's processes whose program is the file at launcherPath (by
// /proc/<pid>/exe, not by the process name, which other programs may share); each is stopped
// together with its descendants, never the script itself. The old file is kept as
// KeptLauncherPath until the new launcher has started; when the copy fails or the new launcher
// fails at once, the old file is put back and started.
std::string ReplacementScriptText(const std::string& launcherPath, const std::string& newFilePath,
                                  const std::string& scriptPath);

// Creates or truncates scriptPath with text. True when all of it was written.
bool WriteReplacementScript(const std::string& scriptPath, const std::string& text);

// Runs the script with /bin/sh, detached, in launcherDir. True when it was started.
bool StartReplacementScript(const std::string& scriptPath, const std::string& launcherDir);

enum class SelfUpdateOutcome {
  kNotConfirmed,  // the message box could not be shown: nothing else happened
  kStarted,       // the script runs; the process was ended
  kNotWritten,    // the script could not be written; the process was ended
  kNotStarted,    // the script was written but could not be started; the process was ended
};

// The page's handling of the finished download of the new launcher (localPath): tells the
// player the launcher restarts ("登陆器有更新，需要重启。", "更新提示", OK only), writes and
// starts the script, and ends the process with ExitProcess(0) (also when the script could not
// be written). Returns only where ExitProcess returns (a test hook) or the box was not shown.
SelfUpdateOutcome RunSelfUpdate(const std::string& launcherDir, const std::string& launcherPath,
                                const std::string& localPath);

}  // namespace zarn
