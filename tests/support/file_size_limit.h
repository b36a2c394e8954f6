// A full disk, as far as this process's writes go.
#pragma once

#include <signal.h>
#include <sys/resource.h>

namespace vmtest {

// While it lives, writes past limit bytes into any file fail (EFBIG), as on a full disk.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t limit);
  ~TFileSizeLimit();
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

 private:
  rlimit old_{};
  sighandler_t oldHandler_;
};

}  // namespace vmtest
