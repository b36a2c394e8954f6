// The announcer of a build without Avahi's client library: it announces nothing and says so.
#include "announce/service_announcer.h"

namespace vm {

class TServiceAnnouncer::TImpl {
 public:
  explicit TImpl(TListener listener) : listener_(std::move(listener)) {}
  void Report(TAnnounceStatus status, const char* reason) {
    state_ = TAnnounceState{status, "", "", reason};
    if (listener_) listener_(state_);
  }
  TListener listener_;
  TAnnounceState state_;
};

TServiceAnnouncer::TServiceAnnouncer(std::string, std::string, TListener listener)
    : impl_(std::make_unique<TImpl>(std::move(listener))) {}
TServiceAnnouncer::~TServiceAnnouncer() = default;

void TServiceAnnouncer::Announce(int) {
  impl_->Report(TAnnounceStatus::Failed, "built without the mDNS client library");
}
void TServiceAnnouncer::Withdraw() { impl_->Report(TAnnounceStatus::Off, ""); }
TAnnounceState TServiceAnnouncer::State() const { return impl_->state_; }

}  // namespace vm
