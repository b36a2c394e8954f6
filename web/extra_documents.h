// Documents added beside the designed ones (viewing, chunked uploads, archives, file operations).
//
// Each name holds none of the designed document keys and is matched only as the whole last
// segment of a document that no designed key matches: every designed answer stays as it was.
// The guards apply to them as to every document: a foreign host gets 421, a client that must
// still log in gets the login form, and a request another site started is handed over with no
// parameters and no body (Foreign), which every handler answers without changing anything.
#pragma once

#include <string>
#include <string_view>

#include "http/http_server.h"
#include "state/main_state.h"

namespace vm {

// One request for an added document, as the dispatcher hands it over.
struct TDocumentCall {
  TMainState& State;
  const TStateSnapshot& Snapshot;
  TIdCustomHTTPServer& Server;
  TIdPeerThread* Thread;
  TIdHTTPRequestInfo& Request;
  TIdHTTPResponseInfo& Response;
  const std::string& Address;  // the client's address
  const std::string& Params;   // the decoded parameter text: the query, or a small form body
  bool Foreign;                // another site started the request: Params is empty
};

// Answers the request: sets the response's text, or serves a file, or writes to the connection.
using TDocumentHandler = void (*)(TDocumentCall& call);

struct TExtraDocument {
  std::string_view Name;     // the whole last segment of the document
  TDocumentHandler Handler;
  // How its body is read when a body may be read at all (Keep: into the post stream, which
  // the handler reads; the body never becomes pastdata.txt).
  TBodyAdmission Body;
};

// The added document the document names, or null.
const TExtraDocument* FindExtraDocument(std::string_view document);

}  // namespace vm
