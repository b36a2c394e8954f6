// The sign-in document: what the desktop's QR code opens while a password is required. A live
// one-time code in it admits the address that opened it, as the right password does; the
// browser is then sent on to the index page, so the code leaves its address bar and history.
#pragma once

#include <string_view>

#include "http/http_server.h"
#include "state/main_state.h"
#include "web/login_throttle.h"

namespace vm {

// True when the last segment of the document is the sign-in document and no designed key
// stands in it.
bool IsSignInDocument(std::string_view document);

enum class TSignInOutcome {
  GoOn,       // admitted now, or no sign-in was needed: on to the index page
  Refused,    // a code spent, expired or unknown: counted as a wrong password
  NotLooked,  // the code was not looked at (another site's request, not a GET, turned off)
};

// Decides a request for the sign-in document. Only a GET of a client that must log in, which
// the browser did not start for another site, has its code ("t") checked: after its turn in the
// login throttle, as a password would be. The code is never written anywhere.
TSignInOutcome SignIn(TMainState& state, TLoginThrottle& throttle, const TStateSnapshot& snapshot,
                      const TIdHTTPRequestInfo& request);

// Sends the browser on to the index page beside the document (303), in an answer no cache keeps.
void AnswerGoOn(TIdHTTPResponseInfo& response);

}  // namespace vm
