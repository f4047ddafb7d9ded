#pragma once
// Sets or removes USER for the life of a test and puts back what was there.

#include <cstdlib>
#include <optional>
#include <string>

namespace polygons::testing {

class user_scope {
 public:
  explicit user_scope(std::optional<std::string> value) {
    if (const char* old = std::getenv("USER")) saved_ = old;
    if (value) setenv("USER", value->c_str(), 1);
    else unsetenv("USER");
  }
  ~user_scope() {
    if (saved_) setenv("USER", saved_->c_str(), 1);
    else unsetenv("USER");
  }
  user_scope(const user_scope&) = delete;
  user_scope& operator=(const user_scope&) = delete;

 private:
  std::optional<std::string> saved_;
};

}  // namespace polygons::testing
