// The core of the resident main window: its state, its server and its handlers, without Qt.
// The desktop start-up wraps it in the hidden window; the headless start-up uses it alone.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "http/http_server.h"
#include "state/main_state.h"
#include "web/login_throttle.h"

namespace vm {

class TFormHideCore {
 public:
  // programFolder empty: the folder of the executable.
  explicit TFormHideCore(std::string programFolder = "");
  ~TFormHideCore();  // stops the server before the state goes

  TMainState& State() { return state_; }
  TIdHTTPServer& Server() { return IdHTTPServer1; }
  const std::string& ExecutablePath() const { return executablePath_; }

  // Local address, program folder, lists, LoadSettings, then DefaultPort and Active.
  // Throws the engine's bind error (after the settings are loaded).
  void FormCreate();
  // Stops the listener and waits for running requests, deletes the page folder's "*.html"
  // files (and page-write temporaries "*.html.??????"), releases the shared-folder list.
  void FormClose();
  // Writes "page/gohome.html" and returns its path (throws EFCreateError).
  std::string WriteGoHomePage();
  // Writes gohome.html and opens it with xdg-open when there is one.
  void URLU1Click();

  // Whether a request's body is read at all, decided from its head.
  TBodyAdmission IdHTTPServer1AdmitBody(TIdPeerThread* thread, const TIdHTTPRequestInfo& request);
  void IdHTTPServer1CreatePostStream(TIdPeerThread* thread, std::unique_ptr<TStream>& stream);
  void IdHTTPServer1CommandGet(TIdPeerThread* thread, TIdHTTPRequestInfo& request,
                               TIdHTTPResponseInfo& response);

 private:
  std::string ResolvedProgramFolder() const;

  std::string programFolderOverride_;
  std::string executablePath_;
  TMainState state_;
  std::vector<int> openers_;  // xdg-open processes not yet reaped (user-interface thread only)
  TLoginThrottle loginThrottle_;  // stopped before the server, so no request waits on it
  TIdHTTPServer IdHTTPServer1;  // declared after the state: destroyed (stopped) first
};

}  // namespace vm
