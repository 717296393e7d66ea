// Helpers of the work tests: the code set and environment overrides, undone at scope end.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "util/CodePage.h"

namespace zarn::test {

class CodeSetGuard {
 public:
  explicit CodeSetGuard(const char* codeSet) { SetAnsiCodeSet(codeSet); }
  ~CodeSetGuard() { SetAnsiCodeSet(""); }
  CodeSetGuard(const CodeSetGuard&) = delete;
  CodeSetGuard& operator=(const CodeSetGuard&) = delete;
};

class EnvGuard {
 public:
  EnvGuard(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~EnvGuard() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace zarn::test
