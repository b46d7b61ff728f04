// An environment variable set (or removed) for the life of a scope: the earlier value comes back
// however the scope ends, a failed assertion's early return included.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#ifdef _WIN32
#include "support/posix_shims_win.h"
#endif

namespace kvtest {

class EnvScope {
 public:
  // `value` empty (std::nullopt): the variable is removed for the scope.
  EnvScope(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    Set(value);
  }
  ~EnvScope() { Set(old_); }
  EnvScope(const EnvScope&) = delete;
  EnvScope& operator=(const EnvScope&) = delete;

  // A new value inside the same scope; the one before the scope still comes back at its end.
  void Set(const std::optional<std::string>& value) {
    if (value)
      ::setenv(name_.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace kvtest
