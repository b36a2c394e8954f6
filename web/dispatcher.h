// The request dispatcher: every request of the web application goes through here.
#pragma once

#include "http/http_server.h"
#include "state/main_state.h"

namespace vm {

// Decodes the parameters, handles a body, applies the login gate, routes by document name,
// writes the page file and has server.ServeFile send it.
void IdHTTPServer1CommandGet(TMainState& state, TIdCustomHTTPServer& server, TIdPeerThread* thread,
                             TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response);

}  // namespace vm
