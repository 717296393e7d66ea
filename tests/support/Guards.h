// Overrides of the code set and the environment for a scope, undone at its end. Apart from
// TestSupport.h so that tests with their own event-processing WaitFor can use them too.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "update/UpdateTrust.h"
#include "util/CodePage.h"

namespace zarn::test {

// Sets the ANSI code set for the scope; the default (the locale's) comes back afterwards.
class CodeSetGuard {
 public:
  explicit CodeSetGuard(const char* codeSet) { SetAnsiCodeSet(codeSet); }
  ~CodeSetGuard() { SetAnsiCodeSet(""); }
  CodeSetGuard(const CodeSetGuard&) = delete;
  CodeSetGuard& operator=(const CodeSetGuard&) = delete;
};

// Sets an environment variable (or removes it, for std::nullopt) for the scope; its earlier
// value, or its absence, comes back afterwards.
class EnvGuard {
 public:
  EnvGuard(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
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

// Trusts the update key given (empty: none) for the scope; the build setting comes back
// afterwards.
class UpdateKeyGuard {
 public:
  explicit UpdateKeyGuard(std::string key) { SetUpdatePublicKey(std::move(key)); }
  ~UpdateKeyGuard() { SetUpdatePublicKey(std::nullopt); }
  UpdateKeyGuard(const UpdateKeyGuard&) = delete;
  UpdateKeyGuard& operator=(const UpdateKeyGuard&) = delete;
};

}  // namespace zarn::test
