// Whether a request's body is read at all: decided from the head, before the body arrives.
#pragma once

#include <string>

#include "http/http_server.h"
#include "state/main_state.h"

namespace vm {

// What a request asks for, taken from its request line (the engine fills Document and the
// parameters only after the body has been read).
struct TRequestTarget {
  std::string Document;  // decoded path
  std::string Query;     // the text after the first "?", undecoded
  std::string Host;      // the Host header, or the host of an absolute-form target
};
TRequestTarget TargetOf(const TIdHTTPRequestInfo& request);

// True when the request head announces a body.
bool AnnouncesBody(const TIdHTTPRequestInfo& request);

// Discard for a request under a foreign host name, one another site started, and one from a
// client that must still log in; SmallForm for the login document (its password form is all a
// login needs, and it must never be kept on disk); Handler for an upload whose query names a
// folder that refuses it (RefusalAtHead: the dispatcher drops its body); Keep for the rest.
TBodyAdmission AdmitBody(const TMainState& state, const TIdHTTPRequestInfo& request);

// How the engine counts a connection from address: a stranger's while a password is required
// and the address has not logged in, so that a flood of such connections cannot crowd out the
// clients that have.
TPeerStanding StandingOf(const TMainState& state, const std::string& address);

}  // namespace vm
