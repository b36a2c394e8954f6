// The announcer on Avahi's client library: one client on a thread of its own (Avahi's threaded
// poll), kept alive across restarts of the daemon.
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

#include <mutex>

#include "announce/service_announcer.h"

namespace vm {
namespace {

constexpr char kServiceType[] = "_http._tcp";

// Holds Avahi's lock for a call from outside its thread: its callbacks run under that lock.
class TPollLock {
 public:
  explicit TPollLock(AvahiThreadedPoll* poll) : poll_(poll) {
    if (poll_) avahi_threaded_poll_lock(poll_);
  }
  ~TPollLock() {
    if (poll_) avahi_threaded_poll_unlock(poll_);
  }
  TPollLock(const TPollLock&) = delete;
  TPollLock& operator=(const TPollLock&) = delete;

 private:
  AvahiThreadedPoll* poll_;
};

}  // namespace

class TServiceAnnouncer::TImpl {
 public:
  TImpl(std::string serviceName, std::string path, TListener listener)
      : name_(CutServiceName(serviceName)), txt_("path=" + path), listener_(std::move(listener)) {}

  ~TImpl() {
    if (!poll_) return;
    // Stopped first, so that no callback runs while the client goes; freeing the client takes
    // its entries off the network.
    avahi_threaded_poll_stop(poll_);
    if (client_) avahi_client_free(client_);
    avahi_threaded_poll_free(poll_);
  }

  void Announce(int port) {
    if (!poll_) {
      poll_ = avahi_threaded_poll_new();
      if (!poll_) return Report(TAnnounceStatus::Failed, "", "no memory for the mDNS client");
      port_ = port;
      wanted_ = true;
      // Callbacks come from inside avahi_client_new already, on this thread: the poll has not
      // started, so nothing else runs.
      Connect();
      avahi_threaded_poll_start(poll_);
      return;
    }
    TPollLock lock(poll_);
    port_ = port;
    wanted_ = true;
    if (!client_) {
      Connect();
    } else if (avahi_client_get_state(client_) == AVAHI_CLIENT_S_RUNNING) {
      if (group_) avahi_entry_group_reset(group_);
      Register(client_);
    }
  }

  void Withdraw() {
    TPollLock lock(poll_);
    wanted_ = false;
    if (group_) avahi_entry_group_reset(group_);
    Report(TAnnounceStatus::Off, HostName(client_), "");
  }

  TAnnounceState State() const {
    std::lock_guard<std::mutex> lock(stateLock_);
    return state_;
  }

 private:
  // A client that waits for a daemon not (yet) there instead of failing.
  void Connect() {
    int error = 0;
    client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
                               &TImpl::ClientChanged, this, &error);
    // Without a system bus there is no daemon to wait for.
    if (!client_) Report(TAnnounceStatus::NoDaemon, "", avahi_strerror(error));
  }

  static std::string HostName(AvahiClient* client) {
    const char* name = client ? avahi_client_get_host_name_fqdn(client) : nullptr;
    return name ? name : "";
  }

  static void ClientChanged(AvahiClient* client, AvahiClientState state, void* self) {
    static_cast<TImpl*>(self)->OnClient(client, state);
  }

  void OnClient(AvahiClient* client, AvahiClientState state) {
    switch (state) {
      case AVAHI_CLIENT_S_RUNNING:
        if (wanted_) {
          Register(client);
        } else {
          Report(TAnnounceStatus::Off, HostName(client), "");
        }
        break;
      case AVAHI_CLIENT_S_COLLISION:
      case AVAHI_CLIENT_S_REGISTERING:
        // The host name is being (re)negotiated: our records follow once it is settled.
        if (group_) avahi_entry_group_reset(group_);
        if (wanted_) Report(TAnnounceStatus::Registering, "", "");
        break;
      case AVAHI_CLIENT_CONNECTING:
        Report(TAnnounceStatus::NoDaemon, "", "");
        break;
      case AVAHI_CLIENT_FAILURE:
        if (avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED) {
          // The daemon went away: wait for the next one with a new client (its entry group
          // goes with the old one).
          avahi_client_free(client);
          client_ = nullptr;
          group_ = nullptr;
          Connect();
        } else {
          Report(TAnnounceStatus::Failed, "", avahi_strerror(avahi_client_errno(client)));
        }
        break;
    }
  }

  // Puts the service into the (empty) entry group and commits it.
  void Register(AvahiClient* client) {
    if (!group_) group_ = avahi_entry_group_new(client, &TImpl::GroupChanged, this);
    if (!group_) {
      return Report(TAnnounceStatus::Failed, "", avahi_strerror(avahi_client_errno(client)));
    }
    // Each collision gives a new name; the daemon ends the chain long before this does.
    for (int attempt = 0; attempt < kMaxRenames; ++attempt) {
      const int error = avahi_entry_group_add_service(
          group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), name_.c_str(),
          kServiceType, nullptr, nullptr, static_cast<uint16_t>(port_), txt_.c_str(), nullptr);
      if (error == AVAHI_ERR_COLLISION) {
        Rename();
        continue;
      }
      if (error < 0 || (avahi_entry_group_commit(group_)) < 0) {
        return Report(TAnnounceStatus::Failed, "", avahi_strerror(avahi_client_errno(client)));
      }
      return Report(TAnnounceStatus::Registering, HostName(client), "");
    }
    Report(TAnnounceStatus::Failed, "", "no free service name");
  }

  void Rename() {
    char* other = avahi_alternative_service_name(name_.c_str());
    name_ = CutServiceName(other);
    avahi_free(other);
  }

  static void GroupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
    static_cast<TImpl*>(self)->OnGroup(group, state);
  }

  void OnGroup(AvahiEntryGroup* group, AvahiEntryGroupState state) {
    AvahiClient* client = avahi_entry_group_get_client(group);
    switch (state) {
      case AVAHI_ENTRY_GROUP_ESTABLISHED:
        Report(TAnnounceStatus::Announced, HostName(client), "");
        break;
      case AVAHI_ENTRY_GROUP_COLLISION:
        // Another machine has the name: take the next one.
        Rename();
        avahi_entry_group_reset(group);
        Register(client);
        break;
      case AVAHI_ENTRY_GROUP_FAILURE:
        Report(TAnnounceStatus::Failed, "", avahi_strerror(avahi_client_errno(client)));
        break;
      case AVAHI_ENTRY_GROUP_UNCOMMITED:
      case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
  }

  void Report(TAnnounceStatus status, const std::string& hostName, const std::string& reason) {
    TAnnounceState state{status, hostName, name_, reason};
    {
      std::lock_guard<std::mutex> lock(stateLock_);
      state_ = state;
    }
    if (listener_) listener_(state);
  }

  // A name that collides again and again is given up after this many renames.
  static constexpr int kMaxRenames = 16;

  // Written by the caller before the poll starts, then only under the poll's lock.
  std::string name_;
  const std::string txt_;
  const TListener listener_;
  AvahiThreadedPoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;
  int port_ = 0;
  bool wanted_ = false;

  mutable std::mutex stateLock_;
  TAnnounceState state_;  // guarded by stateLock_
};

TServiceAnnouncer::TServiceAnnouncer(std::string serviceName, std::string path, TListener listener)
    : impl_(std::make_unique<TImpl>(std::move(serviceName), std::move(path), std::move(listener))) {
}

TServiceAnnouncer::~TServiceAnnouncer() = default;

void TServiceAnnouncer::Announce(int port) { impl_->Announce(port); }
void TServiceAnnouncer::Withdraw() { impl_->Withdraw(); }
TAnnounceState TServiceAnnouncer::State() const { return impl_->State(); }

}  // namespace vm
