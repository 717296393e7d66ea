// Helpers of the publishing tests: running the real zarn-publish, game folders and trees.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/TestSupport.h"

extern char** environ;

namespace zarn::test {

struct ToolRun {
  int status = -1;  // exit status, -1 when it did not exit normally
  std::string out, err;
};

// Starts zarn-publish with the arguments, its output going to files in scratch; 0 when it
// could not be started.
inline pid_t SpawnPublish(const std::vector<std::string>& args, const std::string& scratch) {
  const std::string outPath = scratch + "/tool.out", errPath = scratch + "/tool.err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> all{ZARN_PUBLISH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, ZARN_PUBLISH, &actions, nullptr, argv.data(), environ) != 0) pid = 0;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Runs zarn-publish to its end.
inline ToolRun RunPublish(const std::vector<std::string>& args, const std::string& scratch) {
  ToolRun run;
  const pid_t pid = SpawnPublish(args, scratch);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.out = ReadFile(scratch + "/tool.out");
  run.err = ReadFile(scratch + "/tool.err");
  return run;
}

// Every file below folder (relative name → bytes).
inline std::map<std::string, std::string> ReadTree(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    if (entry.is_regular_file())
      files[entry.path().lexically_relative(folder).generic_string()] = ReadFile(entry.path().string());
  return files;
}

}  // namespace zarn::test
