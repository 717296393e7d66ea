// Runs the fault driver as a separate process whose standard output goes to a file, so that a
// test can follow its steps and kill it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace zarn::test {

class ChildProcess {
 public:
  // Starts program with args; stdout goes to outputPath.
  ChildProcess(const std::string& program, const std::vector<std::string>& args, std::string outputPath);
  ~ChildProcess();  // kills and reaps a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // True once the output holds the text; false when the time is up or the child ended without it.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit);
  std::string Output() const;
  void Kill();  // SIGKILL
  // The exit status (0..255), or -signal when a signal ended it, or -1000 when it is still
  // running after the limit.
  int Wait(std::chrono::milliseconds limit = std::chrono::seconds(60));

 private:
  // True when the child has ended (and is reaped); its status is then in status_.
  bool Reap();
  pid_t pid_ = -1;
  int status_ = -1;
  std::string output_;
};

// The driver program built beside the tests.
std::string FaultDriverPath();

}  // namespace zarn::test
