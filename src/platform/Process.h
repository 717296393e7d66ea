// Process services of the launcher on Linux: its own path, ending the process, starting other
// programs and opening addresses in the user's browser.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zarn {

// Full path of the running executable (/proc/self/exe). Tests may set another.
std::string GetModulePath();
void SetModulePathForTest(std::string path);

// Ends the process at once: open streams are flushed, nothing else of the shut-down runs.
// With a hook installed (tests), the hook observes the code and the call returns; callers
// therefore return right after calling it.
void ExitProcess(int code);
void SetExitProcessHook(std::function<void(int)> hook);

// Opens an address in the user's default browser (xdg-open, detached). Tests may observe it.
void OpenUrl(const std::string& url);
void SetOpenUrlHook(std::function<void(const std::string&)> hook);

// Splits a parameter text at blanks, as the C runtime splits an unquoted command line.
std::vector<std::string> SplitParameters(const std::string& parameters);

// How a program file is run, decided by its first bytes (the execute permission says nothing on
// NTFS or exFAT mounts, where every file has it).
enum class ProgramKind {
  Missing,     // no such file, or not a regular file
  Unreadable,  // its first bytes cannot be read
  Native,      // an ELF program, or a script beginning with "#!": started directly
  Windows,     // "MZ": started through wine
  Unknown,     // anything else: not started
};
ProgramKind ClassifyProgram(const std::string& path);

// Starts a program detached, in a new session, with the given arguments (not counting argv[0])
// and working directory ("" inherits ours). A program named by a path is run as ClassifyProgram
// says; a bare name is looked up on PATH. The launcher waits for the child in the background, so
// no finished child stays behind as a zombie. Returns "" when the program was started, else the
// reason it was not (ANSI, for the player).
std::string StartProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir = {});
// StartProgram, true when the program was started.
bool StartDetached(const std::string& program, const std::vector<std::string>& args,
                   const std::string& workDir = {});

// The first executable "name" on PATH, or "".
std::string FindOnPath(const std::string& name);

}  // namespace zarn
