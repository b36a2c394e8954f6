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

// The time zone (TZ) set for the life of an object, then put back; the C library is told both
// times.
class TScopedZone {
 public:
  explicit TScopedZone(const std::string& zone);

 private:
  struct TTellLibrary {
    ~TTellLibrary();  // after zone_ has put the old value back
  } tell_;
  TScopedEnv zone_;
};

}  // namespace vmtest
