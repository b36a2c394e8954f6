// The file-manager door (WebDAV, class 2): the shares as a drive for file managers, media
// players and sync tools, under kDavPrefix, with the permissions, guards and limits of the pages.
//
// The root lists the shares as collections by their names; each share is the tree of its folder.
// Each share's mode decides every method: view only reads; the default also creates new names
// (PUT, MKCOL), never replacing; full does everything (DELETE moves to the trash); a drop box
// takes new files only and lists nothing. A refusal is 403 with its reason as the text.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "dav/dav_locks.h"
#include "dav/dav_properties.h"
#include "http/http_server.h"
#include "state/main_state.h"
#include "web/login_throttle.h"

namespace vm {

// One request for the door, as the server hands it over.
struct TDavCall {
  TMainState& State;
  TLoginThrottle& Throttle;
  TIdCustomHTTPServer& Server;
  TIdPeerThread* Thread;  // null in tests that answer without a connection
  TIdHTTPRequestInfo& Request;
  TIdHTTPResponseInfo& Response;
};

// The file that keeps the dead properties, in the program folder beside the settings.
inline constexpr char kDavPropertiesFile[] = "dav-properties.dat";

class TDavServer {
 public:
  // programFolder: system text ending in "/"; "" keeps properties in memory only.
  explicit TDavServer(const std::string& programFolder);
  TDavServer(const TDavServer&) = delete;
  TDavServer& operator=(const TDavServer&) = delete;

  // True when a request line (method, raw target) is the door's: its target lies under the
  // prefix. Any method then is answered, as the door needs its own.
  static bool Handles(std::string_view target);
  // The door reads bodies itself (a PUT straight to disk, XML into a bounded buffer), and only
  // after the guards passed: Handler. Discard for a foreign host or another site's request.
  TBodyAdmission AdmitBody(const TMainState& state, const TIdHTTPRequestInfo& request) const;
  // Answers the request.
  void Answer(TDavCall& call);

 private:
  TDavLockTable locks_;
  TDavPropertyStore properties_;
};

}  // namespace vm
