// An environment variable set for the life of an object, then put back as it was.
#pragma once

#include <optional>
#include <string>

namespace vmtest {

class TScopedEnv {
 public:
  TScopedEnv(std::string name, const std::string& value);
  ~TScopedEnv();  // the old value again, or no variable when there was none
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace vmtest
