// Replacement of the launcher by its newly downloaded version: a small shell script removes
// the old executable, stops the user's running launchers of that name, copies the new file
// over the old path, starts it and deletes itself; the launcher starts the script and ends.
#pragma once

#include <string>
#include <string_view>

namespace zarn {

// launcherDir + "/copy1597.sh".
std::string ReplacementScriptPath(const std::string& launcherDir);

// text in single quotes for the shell: names exactly that text, whatever it holds.
std::string ShellQuote(std::string_view text);

// The script for a launcher at launcherPath whose new version was saved at newFilePath; the
// script deletes itself (scriptPath) last. Lines end in "\n", the last line has none.
// Running launchers are found by process name (the file name of launcherPath, of which the
// system keeps the first 15 bytes) and owner (the user running the script); each is stopped
// together with its descendants, never the script itself.
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
