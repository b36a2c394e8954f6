// The request dispatcher: every request of the web application goes through here.
#pragma once

#include "http/http_server.h"
#include "state/main_state.h"
#include "web/login_throttle.h"

namespace vm {

// Refuses foreign hosts, decodes the parameters, handles a body, applies the login gate (slowed
// per address by throttle), routes by document name, writes the page file and answers with its
// bytes, or has server.ServeFile send a file.
void IdHTTPServer1CommandGet(TMainState& state, TLoginThrottle& throttle,
                             TIdCustomHTTPServer& server, TIdPeerThread* thread,
                             TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response);

}  // namespace vm
