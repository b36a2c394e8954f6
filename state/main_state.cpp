#include "state/main_state.h"

#include <algorithm>

#include "state/stored_settings.h"

namespace vm {

std::string MakeBaseURL(const std::string& localAddress, int port) {
  if (port == kDefaultPort) return "http://" + localAddress + "/velmarind/";
  return "http://" + localAddress + ":" + std::to_string(port) + "/velmarind/";
}

TMainState::TMainState() : folders_(std::make_shared<const TSharedFolderList>()) {}

void TMainState::SetProgramFolder(std::string folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  programFolder_ = std::move(folder);
}

bool TMainState::SetLocalAddress(std::string address) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (address == localAddress_) return false;
  localAddress_ = std::move(address);
  if (!settings_.BaseURL.empty()) settings_.BaseURL = MakeBaseURL(localAddress_, settings_.Port);
  return true;
}

void TMainState::SetPrivateFolders(std::vector<std::string> folders) {
  auto shared = std::make_shared<const std::vector<std::string>>(std::move(folders));
  std::lock_guard<std::mutex> lock(mutex_);
  privateFolders_ = std::move(shared);
}

TStateSnapshot TMainState::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return TStateSnapshot{programFolder_, localAddress_, settings_, folders_, privateFolders_};
}

std::string TMainState::ProgramFolder() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return programFolder_;
}

std::string TMainState::LocalAddress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return localAddress_;
}

TSettings TMainState::Settings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

std::shared_ptr<const TSharedFolderList> TMainState::SharedFolders() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return folders_;
}

void TMainState::Replace(TSettings settings, TSharedFolderList folders) {
  auto list = std::make_shared<const TSharedFolderList>(std::move(folders));
  bool revoked = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool passwordChanged =
        settings.PassFlag != settings_.PassFlag || settings.Password != settings_.Password;
    revoked = settings.PassFlag && passwordChanged;
    if (passwordChanged) admitted_.clear();
    // A code shown under the old password admits nobody under the new one.
    if (passwordChanged || !settings.QrSignIn) signInTokens_.Revoke();
    signInTokens_.SetValidity(settings.SignInValidity);
    settings_ = std::move(settings);
    userHosts_ = settings_.ExtraHosts;
    ApplyHosts();
    folders_ = std::move(list);
  }
  // What was admitted under the old password does not go on downloading under the new one.
  if (revoked) clients_.CancelTransfers();
}

void TMainState::ApplyHosts() {
  settings_.ExtraHosts = userHosts_;
  if (!networkName_.HostName.empty()) settings_.ExtraHosts.push_back(networkName_.HostName);
}

void TMainState::ReplaceSharedFolders(TSharedFolderList folders) {
  auto list = std::make_shared<const TSharedFolderList>(std::move(folders));
  std::lock_guard<std::mutex> lock(mutex_);
  folders_ = std::move(list);
}

void TMainState::SetAutoRun(int autoRun) {
  std::lock_guard<std::mutex> lock(mutex_);
  settings_.AutoRun = autoRun;
}

void TMainState::SetServedPort(int port, std::string baseUrl) {
  std::lock_guard<std::mutex> lock(mutex_);
  settings_.Port = port;
  settings_.BaseURL = std::move(baseUrl);
}

void TMainState::ReleaseSharedFolders() { ReplaceSharedFolders({}); }

bool TMainState::IsAdmitted(const std::string& address) const {
  return AdmissionOf(address).has_value();
}

std::optional<TAdmission> TMainState::AdmissionOf(const std::string& address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = std::find_if(admitted_.begin(), admitted_.end(),
                                  [&](const TAdmitted& entry) { return entry.address == address; });
  if (found == admitted_.end()) return std::nullopt;
  return found->how;
}

void TMainState::Admit(const std::string& address, TAdmission how) {
  std::lock_guard<std::mutex> lock(mutex_);
  admitted_.push_back({address, how});
}

std::vector<std::string> TMainState::AdmittedClients() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> addresses;
  addresses.reserve(admitted_.size());
  for (const TAdmitted& entry : admitted_) addresses.push_back(entry.address);
  return addresses;
}

void TMainState::RevokeAdmissions() {
  bool passwordRequired = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    admitted_.clear();
    passwordRequired = settings_.PassFlag;
  }
  // Running transfers end with the admissions that let them start.
  if (passwordRequired) clients_.CancelTransfers();
}

void TMainState::SetNetworkName(TNetworkName name) {
  std::shared_ptr<const TNetworkNameListener> listener;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (name == networkName_) return;
    networkName_ = name;
    ApplyHosts();
    listener = networkNameListener_;
  }
  if (listener) (*listener)(name);
}

TNetworkName TMainState::NetworkName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return networkName_;
}

void TMainState::SetNetworkNameListener(TNetworkNameListener listener) {
  auto shared =
      listener ? std::make_shared<const TNetworkNameListener>(std::move(listener)) : nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  networkNameListener_ = std::move(shared);
}

void TMainState::SetShareListener(TShareListener listener) {
  auto shared = listener ? std::make_shared<const TShareListener>(std::move(listener)) : nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  shareListener_ = std::move(shared);
}

void TMainState::NotifyShareChange(const TShareChange& change) const {
  std::shared_ptr<const TShareListener> listener;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    listener = shareListener_;
  }
  // Called outside the lock: the listener may well read the state itself.
  if (listener) (*listener)(change);
}

}  // namespace vm
