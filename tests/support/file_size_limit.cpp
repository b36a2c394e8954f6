#include "support/file_size_limit.h"

namespace vmtest {

TFileSizeLimit::TFileSizeLimit(rlim_t limit) {
  getrlimit(RLIMIT_FSIZE, &old_);
  oldHandler_ = signal(SIGXFSZ, SIG_IGN);  // the write fails instead of ending the process
  const rlimit lower{limit, old_.rlim_max};
  setrlimit(RLIMIT_FSIZE, &lower);
}

TFileSizeLimit::~TFileSizeLimit() {
  setrlimit(RLIMIT_FSIZE, &old_);
  signal(SIGXFSZ, oldHandler_);
}

}  // namespace vmtest
