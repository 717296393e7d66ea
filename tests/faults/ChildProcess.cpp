#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "support/TestSupport.h"

extern char** environ;

namespace zarn::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           std::string outputPath)
    : output_(std::move(outputPath)) {
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int rc = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + program);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (Output().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > end || Reap()) return Output().find(text) != std::string::npos;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::string ChildProcess::Output() const { return ReadFile(output_); }

void ChildProcess::Kill() {
  if (pid_ > 0)
    ::kill(pid_, SIGKILL);  // a child that already ended is not yet reaped: its id is still its own
}

bool ChildProcess::Reap() {
  if (pid_ <= 0) return true;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
  pid_ = -1;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return true;
}

int ChildProcess::Wait(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!Reap()) {
    if (std::chrono::steady_clock::now() > end) return -1000;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return status_;
}

std::string FaultDriverPath() { return ZARN_FAULT_DRIVER; }

}  // namespace zarn::test
