// The state of the resident main window that the connection threads read.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "state/share_mode.h"
#include "state/client_log.h"
#include "state/signin_tokens.h"

namespace vm {

using TSharedFolderList = std::vector<std::string>;  // entries "name;;path"

// The language of the windows, the tray menu and the notices.
enum class TLanguageChoice {
  Auto,  // Japanese under a Japanese locale, English under any other
  Japanese,
  English,
};

// The configuration values as LoadSettings last computed them.
struct TSettings {
  std::string BaseURL;
  std::string Password;     // plain, Shift_JIS bytes
  int AutoRun = 0;          // 1 = start at log-in
  int Port = 80;
  bool PassFlag = false;    // password required
  // Host names the server answers under besides its own: those the user adds, and the name it
  // is announced under on the local network (see TMainState::SetNetworkName).
  std::vector<std::string> ExtraHosts;
  // Entries whose name starts with "." are listed, served and written only when this is on.
  bool PublishDotFiles = false;
  // What browsers may do in each share, by share name.
  TShareModes ShareModes;
  // Uploads are saved under the browser's file name (made safe) instead of a stamped name.
  bool KeepUploadNames = false;
  TLanguageChoice Language = TLanguageChoice::Auto;
  // The shares are also served to file managers (WebDAV) under their own path.
  bool WebDav = true;
  // While a password is required, the desktop's QR code carries a one-time sign-in code, valid
  // this long.
  bool QrSignIn = true;
  std::chrono::seconds SignInValidity = TSignInTokens::kDefaultValidity;
};

// How an address came to be admitted.
enum class TAdmission {
  Password,  // the right password
  Scan,      // a sign-in code, scanned from the desktop's QR code
};

// Base URL from the local address and the port.
std::string MakeBaseURL(const std::string& localAddress, int port);

// A consistent copy of the state, taken under the lock.
struct TStateSnapshot {
  std::string ProgramFolder;  // ends in "/"
  std::string LocalAddress;
  TSettings Settings;
  std::shared_ptr<const TSharedFolderList> SharedFolders;  // never null
  // Folders that no share ever reaches into besides the program folder (native paths): the
  // program's own caches, the runtime folder, the trash. Null: none.
  std::shared_ptr<const std::vector<std::string>> PrivateFolders;
};

// What a browser changed in a shared folder: files uploaded, a text file or a folder created,
// entries moved to the trash, an entry renamed.
struct TShareChange {
  enum class TKind { Upload, NewText, NewFolder, Trashed, Renamed };
  TKind Kind = TKind::Upload;
  std::string FolderName;     // the shared folder's name, system text
  std::string FileName;       // the new text's or folder's name, an entry's old name, system text
  int FileCount = 0;          // files saved, entries trashed
  std::string ClientAddress;  // the browser's address
  std::string NewName;        // an entry's new name (Renamed only), system text
};
using TShareListener = std::function<void(const TShareChange&)>;

// The name under which browsers on the local network find the server (announced over mDNS).
struct TNetworkName {
  enum class TStatus {
    Off,        // not announced (not serving, or not asked to)
    NoDaemon,   // the desktop's mDNS daemon is not running
    Waiting,    // handed to the daemon, not confirmed yet
    Announced,  // found on the network as HostName
    Failed,     // the daemon refused (Reason)
  };
  TStatus Status = TStatus::Off;
  std::string HostName;  // "pc.local"; empty when not known
  std::string Reason;    // Failed: why, in the daemon's (ASCII) words

  bool operator==(const TNetworkName&) const = default;
};
using TNetworkNameListener = std::function<void(const TNetworkName&)>;

// Guarded by one mutex. Readers get whole snapshots, so a reader never sees a half-rebuilt
// shared-folder list: LoadSettings builds the new list aside and swaps it in.
class TMainState {
 public:
  TMainState();

  // Fixed by the creation handler before the server starts.
  void SetProgramFolder(std::string folder);
  // The address the base URL names: set at start, and again whenever the machine's addresses
  // change. Once settings are loaded the base URL follows at once. True when it changed.
  bool SetLocalAddress(std::string address);
  // The folders that snapshots give as PrivateFolders (native paths).
  void SetPrivateFolders(std::vector<std::string> folders);

  TStateSnapshot Snapshot() const;
  std::string ProgramFolder() const;
  std::string LocalAddress() const;
  TSettings Settings() const;
  std::shared_ptr<const TSharedFolderList> SharedFolders() const;

  // Replaces the settings and the shared-folder list at once (LoadSettings). A change of the
  // password or of whether one is required ends every admission: whoever logged in under the
  // old password must log in again; such a change, or sign-in codes turned off, voids the code.
  void Replace(TSettings settings, TSharedFolderList folders);
  // Replaces only the shared-folder list (the settings window's OK, before LoadSettings).
  void ReplaceSharedFolders(TSharedFolderList folders);
  // Direct update of the auto-start field by the settings window.
  void SetAutoRun(int autoRun);
  // The port the listener got where the settings left it to the system, and the base URL that
  // names it (AdoptChosenPort).
  void SetServedPort(int port, std::string baseUrl);
  // Releases the shared-folder list (close handler): it becomes empty.
  void ReleaseSharedFolders();

  // Admitted-client list: exact, case-sensitive address match; it grows with every login and is
  // emptied only when the password settings change (Replace).
  bool IsAdmitted(const std::string& address) const;
  void Admit(const std::string& address, TAdmission how = TAdmission::Password);
  std::vector<std::string> AdmittedClients() const;
  // How address was admitted, when it is.
  std::optional<TAdmission> AdmissionOf(const std::string& address) const;
  // Ends every admission: each client must log in again, and (while a password is required)
  // every running transfer ends. A change of the password does the same.
  void RevokeAdmissions();

  // The clients seen lately and their transfers (its own lock).
  TClientLog& Clients() { return clients_; }
  const TClientLog& Clients() const { return clients_; }

  // The one-time sign-in codes (their own lock).
  TSignInTokens& SignInTokens() { return signInTokens_; }

  // The network name as the announcer reports it. While the name is known, requests that name
  // it are answered (it is among Settings().ExtraHosts). The listener, when set, is told of
  // every change on the announcer's thread; an empty listener removes it.
  void SetNetworkName(TNetworkName name);
  TNetworkName NetworkName() const;
  void SetNetworkNameListener(TNetworkNameListener listener);

  // The listener told of every change a browser makes in the shares; it runs on the
  // connection thread that made the change. An empty listener removes it.
  void SetShareListener(TShareListener listener);
  void NotifyShareChange(const TShareChange& change) const;

 private:
  // settings_.ExtraHosts := the user's names and the announced name (call under mutex_).
  void ApplyHosts();

  mutable std::mutex mutex_;
  std::string programFolder_;                        // guarded by mutex_
  std::string localAddress_;                         // guarded by mutex_
  std::shared_ptr<const std::vector<std::string>> privateFolders_;  // guarded by mutex_
  // Guarded by mutex_; ExtraHosts holds userHosts_ and the network name (ApplyHosts).
  TSettings settings_;
  std::shared_ptr<const TSharedFolderList> folders_; // guarded by mutex_
  struct TAdmitted {
    std::string address;
    TAdmission how;
  };
  std::vector<TAdmitted> admitted_;                  // guarded by mutex_
  std::shared_ptr<const TShareListener> shareListener_;  // guarded by mutex_
  std::vector<std::string> userHosts_;                   // guarded by mutex_; the user's ExtraHosts
  TNetworkName networkName_;                             // guarded by mutex_
  std::shared_ptr<const TNetworkNameListener> networkNameListener_;  // guarded by mutex_
  TClientLog clients_;
  TSignInTokens signInTokens_;
};

}  // namespace vm
