// The browsers seen lately, for the desktop's view of who is connected: each client's last
// request and the transfers it has running. Bounded in time and count, so that a scan of the
// network or a long run cannot make it grow.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/transfer_progress.h"

namespace vm {

enum class TTransferKind { Download, Upload };

// One transfer as it stands now.
struct TTransferView {
  TTransferKind Kind = TTransferKind::Download;
  std::string Name;    // the file's name (system text); empty when not known yet
  int64_t Done = 0;    // bytes so far
  int64_t Total = -1;  // bytes in all; -1 while unknown
};

// One client as it stands now.
struct TClientView {
  std::string Address;
  std::chrono::system_clock::time_point LastSeen;  // the wall-clock time of its last request
  std::string LastRequest;                         // what it asked for (system text)
  std::vector<TTransferView> Transfers;            // those still running, oldest first
};

class TClientLog {
 public:
  using TClock = std::chrono::steady_clock;
  // A client with no request for this long is forgotten.
  static constexpr auto kForgetAfter = std::chrono::hours(1);
  // At most this many clients are kept (a LAN's worth); a new one then replaces the one seen
  // longest ago.
  static constexpr size_t kMaxClients = 256;
  // Transfers shown per client; the engine's per-address connection limit is lower.
  static constexpr size_t kMaxTransfers = 32;

  // Notes a request of address, described by what.
  void NoteRequest(const std::string& address, std::string what,
                   TClock::time_point now = TClock::now());
  // Records a transfer of address. It shows as running while the returned progress is alive
  // (held by the connection that moves the bytes) and is gone once that lets it go.
  std::shared_ptr<TTransferProgress> BeginTransfer(const std::string& address, TTransferKind kind,
                                                   std::string name, int64_t total,
                                                   TClock::time_point now = TClock::now());
  // Ends every running transfer: each stops at its next block (TTransferProgress::Cancel).
  void CancelTransfers();
  // The clients seen within kForgetAfter, the most recent first.
  std::vector<TClientView> Clients(TClock::time_point now = TClock::now()) const;

 private:
  struct TTransfer {
    TTransferKind kind;
    std::string name;
    std::weak_ptr<TTransferProgress> progress;
  };
  struct TClient {
    TClock::time_point lastSeen;
    std::chrono::system_clock::time_point lastSeenWall;
    std::string lastRequest;
    std::vector<TTransfer> transfers;
  };

  // The record of address, made when it is new; forgets the old and keeps the count.
  TClient& Entry(const std::string& address, TClock::time_point now);
  void Forget(TClock::time_point now) const;

  mutable std::mutex mutex_;
  mutable std::unordered_map<std::string, TClient> clients_;  // guarded by mutex_
};

}  // namespace vm
