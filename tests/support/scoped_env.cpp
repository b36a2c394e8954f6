#include "support/scoped_env.h"

#include <cstdlib>
#include <ctime>

namespace vmtest {

TScopedEnv::TScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  setenv(name_.c_str(), value.c_str(), 1);
}

TScopedEnv::~TScopedEnv() {
  if (old_) {
    setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

TScopedZone::TScopedZone(const std::string& zone) : zone_("TZ", zone) { tzset(); }

TScopedZone::TTellLibrary::~TTellLibrary() { tzset(); }

}  // namespace vmtest
