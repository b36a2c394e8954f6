// Announces the server on the local network as an HTTP service through the desktop's mDNS
// daemon (Avahi, over the system bus), so that a browser finds it by "<host name>.local" without
// anyone typing an address. We answer no mDNS query ourselves: without the daemon nothing is
// announced and the status says why.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace vm {

// Where the announcement stands.
enum class TAnnounceStatus {
  Off,          // nothing asked for, or withdrawn
  NoDaemon,     // waiting for the daemon, which is not running (announced once it starts)
  Registering,  // handed to the daemon, not yet confirmed on the network
  Announced,    // on the network under HostName
  Failed,       // the daemon refused; Reason says why
};

struct TAnnounceState {
  TAnnounceStatus Status = TAnnounceStatus::Off;
  std::string HostName;     // the daemon's host name with its domain ("pc.local"); may be empty
  std::string ServiceName;  // the name the service got (another one after a collision)
  std::string Reason;       // Failed: the daemon's words (ASCII)
};

// One service of type "_http._tcp" with a TXT record "path=...". Thread-safe; the listener runs
// on the announcer's own thread, and must not call back into the announcer.
class TServiceAnnouncer {
 public:
  using TListener = std::function<void(const TAnnounceState&)>;

  // serviceName: what browsers list (UTF-8, cut to the 63 bytes a DNS label holds); path: the
  // TXT record's value. Nothing is announced before Announce.
  TServiceAnnouncer(std::string serviceName, std::string path, TListener listener);
  ~TServiceAnnouncer();  // withdraws and stops its thread
  TServiceAnnouncer(const TServiceAnnouncer&) = delete;
  TServiceAnnouncer& operator=(const TServiceAnnouncer&) = delete;

  // Announces the service on port, or moves it there; the daemon is looked for on the first
  // call and followed from then on (it may start later, or restart).
  void Announce(int port);
  // Takes the service off the network; Announce brings it back.
  void Withdraw();
  TAnnounceState State() const;

 private:
  class TImpl;
  std::unique_ptr<TImpl> impl_;
};

// The longest service name DNS-SD allows, in bytes of UTF-8.
inline constexpr size_t kMaxServiceNameBytes = 63;
// name cut to at most kMaxServiceNameBytes without splitting a UTF-8 character.
std::string CutServiceName(const std::string& name);

}  // namespace vm
