#include "state/client_log.h"

#include <algorithm>

namespace vm {

void TClientLog::Forget(TClock::time_point now) const {
  std::erase_if(clients_, [&](const auto& item) {
    const TClient& client = item.second;
    // A client in the middle of a long transfer stays, however long ago its request came.
    const bool transferring =
        std::any_of(client.transfers.begin(), client.transfers.end(),
                    [](const TTransfer& transfer) { return !transfer.progress.expired(); });
    return now - client.lastSeen > kForgetAfter && !transferring;
  });
}

TClientLog::TClient& TClientLog::Entry(const std::string& address, TClock::time_point now) {
  if (auto found = clients_.find(address); found != clients_.end()) return found->second;
  // Only a new address makes the record larger, so only then is it cleaned.
  Forget(now);
  if (clients_.size() >= kMaxClients) {
    auto oldest = std::min_element(
        clients_.begin(), clients_.end(),
        [](const auto& a, const auto& b) { return a.second.lastSeen < b.second.lastSeen; });
    clients_.erase(oldest);
  }
  return clients_[address];
}

void TClientLog::NoteRequest(const std::string& address, std::string what, TClock::time_point now) {
  const auto wall = std::chrono::system_clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  TClient& client = Entry(address, now);
  client.lastSeen = now;
  client.lastSeenWall = wall;
  client.lastRequest = std::move(what);
}

std::shared_ptr<TTransferProgress> TClientLog::BeginTransfer(const std::string& address,
                                                             TTransferKind kind, std::string name,
                                                             int64_t total,
                                                             TClock::time_point now) {
  auto progress = std::make_shared<TTransferProgress>(total);
  std::lock_guard<std::mutex> lock(mutex_);
  TClient& client = Entry(address, now);
  if (client.lastSeen == TClock::time_point()) {
    client.lastSeen = now;
    client.lastSeenWall = std::chrono::system_clock::now();
  }
  std::erase_if(client.transfers, [](const TTransfer& t) { return t.progress.expired(); });
  if (client.transfers.size() >= kMaxTransfers) client.transfers.erase(client.transfers.begin());
  client.transfers.push_back({kind, std::move(name), progress});
  return progress;
}

std::vector<TClientView> TClientLog::Clients(TClock::time_point now) const {
  std::vector<std::pair<TClock::time_point, TClientView>> seen;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Forget(now);
    seen.reserve(clients_.size());
    for (auto& [address, client] : clients_) {
      std::erase_if(client.transfers, [](const TTransfer& t) { return t.progress.expired(); });
      TClientView view{address, client.lastSeenWall, client.lastRequest, {}};
      for (const TTransfer& transfer : client.transfers) {
        if (const auto progress = transfer.progress.lock()) {
          view.Transfers.push_back(
              {transfer.kind, transfer.name, progress->Done(), progress->Total()});
        }
      }
      seen.emplace_back(client.lastSeen, std::move(view));
    }
  }
  std::sort(seen.begin(), seen.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<TClientView> views;
  views.reserve(seen.size());
  for (auto& item : seen) views.push_back(std::move(item.second));
  return views;
}

void TClientLog::CancelTransfers() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [address, client] : clients_) {
    for (const TTransfer& transfer : client.transfers) {
      if (std::shared_ptr<TTransferProgress> progress = transfer.progress.lock())
        progress->Cancel();
    }
  }
}

}  // namespace vm
