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

// Starts a program detached, in a new session, with the given arguments (not counting argv[0])
// and working directory ("" inherits ours). A file without the execute permission is started
// through wine when wine is on PATH. True when the program was started.
bool StartDetached(const std::string& program, const std::vector<std::string>& args,
                   const std::string& workDir = {});

// The first executable "name" on PATH, or "".
std::string FindOnPath(const std::string& name);

}  // namespace zarn
