// The core of the resident main window: its state, its server and its handlers, without Qt.
// The desktop start-up wraps it in the hidden window; the headless start-up uses it alone.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http/http_server.h"
#include "server/listen_failure.h"
#include "server/thumbnail_service.h"
#include "state/main_state.h"
#include "state/stored_settings.h"
#include "web/login_throttle.h"

namespace vm {

class TAddressWatch;
class TDavServer;
class TServiceAnnouncer;

class TFormHideCore {
 public:
  // programFolder empty: the folder of the executable.
  explicit TFormHideCore(std::string programFolder = "");
  ~TFormHideCore();  // stops the server before the state goes

  TMainState& State() { return state_; }
  TIdHTTPServer& Server() { return IdHTTPServer1; }
  const std::string& ExecutablePath() const { return executablePath_; }

  // Local address, program folder, lists, LoadSettings, then DefaultPort and Active. A folder
  // without "velmarind.ini" first gets one (a first start); where none can be written, the
  // first start's settings are in force all the same, unsaved. Throws EListenError when the
  // port cannot be had (after the settings are loaded). From then on the base URL follows the
  // machine's addresses (FollowAddresses).
  void FormCreate();
  // Reads this machine's addresses and moves the base URL to a live one: the address in use
  // while it lasts, else the first, else loopback (no network). True when the base URL moved.
  bool FollowAddresses();
  // Told, on a thread of its own, when the addresses moved the base URL. Set before FormCreate.
  void SetAddressListener(std::function<void()> listener) {
    addressListener_ = std::move(listener);
  }
  // Where the addresses come from (FindLocalAddresses; tests give their own). Set before
  // FormCreate.
  void SetAddressSource(std::function<std::vector<std::string>()> source) {
    addressSource_ = std::move(source);
  }
  // The addresses now, as FollowAddresses reads them.
  std::vector<std::string> LocalAddresses() const { return addressSource_(); }
  // The settings in force: those of the files, or those that could not be saved.
  TStoredSettings SettingsInForce() const;
  // From now on the server is announced on the local network while it serves, on the port it
  // serves, and withdrawn when it stops; the state's NetworkName follows. Call before FormCreate.
  void EnableAnnouncing();
  // Why nothing is served, one sentence of system text; empty while the listener runs and the
  // page folder, where every answer is written first, can be written.
  std::string NotServingReason() const;
  // A warning (system text) when the program folder cannot be written: settings cannot be
  // saved, uploads not received. Empty when it can.
  std::string FolderProblem() const;
  // The settings window's OK: saves the edited settings and applies them. A changed port moves
  // the listener first; when the new port cannot be had, throws EListenError and nothing is
  // saved or applied. Files that cannot be written do not keep the settings from applying for
  // this run: then ESettingsNotSaved follows, after they took effect. While nothing is served
  // the listener is tried again (a failure shows in NotServingReason). The log-in start follows
  // a changed AUTO_RUN last; its failure (EFCreateError) also comes after the settings applied.
  void StoreSettings(const TStoredSettings& edited);
  // Stops the listener and waits for running requests, deletes the page folder's "*.html"
  // files (and page-write temporaries "*.html.??????"), releases the shared-folder list.
  void FormClose();
  // Writes "page/gohome.html" and returns its path (throws EFCreateError).
  std::string WriteGoHomePage();
  // Writes gohome.html and opens it with xdg-open; false when xdg-open cannot be started.
  bool URLU1Click();
  // Opens a file or folder (system text) with xdg-open; label names it in ReapOpeners' report.
  // False when xdg-open cannot be started.
  bool OpenWithDesktop(const std::string& systemPath, const std::string& label);
  // Reaps the openers that have ended: the labels of those that failed (xdg-open found no
  // program, or the program failed).
  std::vector<std::string> ReapOpeners();
  bool OpenersRunning() const { return !openers_.empty(); }

  // Whether a request's body is read at all, decided from its head.
  TBodyAdmission IdHTTPServer1AdmitBody(TIdPeerThread* thread, const TIdHTTPRequestInfo& request);
  void IdHTTPServer1CreatePostStream(TIdPeerThread* thread, std::unique_ptr<TStream>& stream);
  void IdHTTPServer1CommandGet(TIdPeerThread* thread, TIdHTTPRequestInfo& request,
                               TIdHTTPResponseInfo& response);

 private:
  std::string ResolvedProgramFolder() const;
  // True when the request is the file-manager door's (and the door is open).
  bool ForDav(const TIdHTTPRequestInfo& request) const;
  // Activates the listener on DefaultPort; a failure is kept for NotServingReason and thrown.
  void Listen();
  // Announces the port served, or withdraws when nothing is served.
  void FollowListener();

  struct TOpener {
    int pid;
    std::string label;
    std::chrono::steady_clock::time_point started;
  };

  std::string programFolderOverride_;
  std::function<std::vector<std::string>()> addressSource_;
  std::function<void()> addressListener_;
  std::mutex addressLock_;  // one FollowAddresses at a time (the watch's thread and the caller's)
  // The settings in force that the files do not hold (user-interface thread only).
  std::optional<TStoredSettings> unsaved_;
  std::string executablePath_;
  TMainState state_;
  std::vector<TOpener> openers_;  // not yet reaped (user-interface thread only)
  // The last failure to listen (user-interface thread only).
  std::optional<TListenFailure> listenFailure_;
  TLoginThrottle loginThrottle_;  // stopped before the server, so no request waits on it
  // The file-manager door: its locks and properties outlive every request (declared before
  // the server).
  std::unique_ptr<TDavServer> dav_;
  // Attached to the server while it serves; outlives every request (declared before it).
  std::shared_ptr<TThumbnailService> thumbnails_;
  TIdHTTPServer IdHTTPServer1;  // declared after the state: destroyed (stopped) first
  // Reports into the state: declared after it, so it stops before the state goes.
  std::unique_ptr<TServiceAnnouncer> announcer_;
  std::unique_ptr<TAddressWatch> addressWatch_;  // as the announcer
};

}  // namespace vm
