#include "dav/dav_server.h"

#include "dav/dav_exchange.h"
#include "platform/fs_names.h"
#include "platform/sjis.h"
#include "web/body_admission.h"
#include "web/request_guard.h"

namespace vm {

namespace {

constexpr char kRealm[] = "WWW-Authenticate: Basic realm=\"Velmarind\", charset=\"UTF-8\"";

// True when the password sent matches the stored one (system text): as its bytes, or as UTF-8
// whose Shift_JIS form is the stored text.
bool PasswordSentMatches(const std::string& sent, const std::string& stored) {
  if (sent == stored) return true;
  const std::optional<std::string> sjis = Utf8ToShiftJis(sent);
  return sjis && *sjis == stored;
}

// The raw target of the request line ("METHOD target VERSION").
std::string RawTarget(const TIdHTTPRequestInfo& request) {
  const std::string& line = request.RequestLine;
  const size_t first = line.find(' ');
  const size_t last = line.rfind(' ');
  return first < last ? line.substr(first + 1, last - first - 1) : "";
}

bool IsForeign(const TIdHTTPRequestInfo& request, const TSettings& settings) {
  const std::string host = TargetOf(request).Host;
  return IsStartedByOtherSite(request.RawHeaders, host, false) ||
         IsMisdirected(request.RawHeaders.IndexOfName("Host") >= 0, host, settings.ExtraHosts);
}

// File managers ask many small questions: their connection is kept for the next one when
// nothing of this request is left on it and the answer has a length. (The pages' answers close
// their connections, as they always have.)
void KeepConnectionIfSafe(TDavExchange& exchange) {
  const TIdHTTPRequestInfo& request = exchange.Call.Request;
  TIdHTTPResponseInfo& response = exchange.Call.Response;
  const bool bodyLeft =
      (request.BodyOnConnection || !exchange.Header("Transfer-Encoding").empty()) &&
      !exchange.BodyConsumed;
  const std::string connection = LowerAscii(exchange.Header("Connection"));
  const bool clientKeeps = request.Version == "HTTP/1.1" ? connection.find("close") == std::string::npos
                                                        : connection.find("keep-alive") != std::string::npos;
  // A streamed answer (a listing) runs until the close; an answer without text or length too.
  const bool delimited = response.HeaderWritten()
                             ? response.HasContentLength()
                             : !response.ContentText.empty() || response.HasContentLength() ||
                                   response.ResponseCode() == 204;
  if (!bodyLeft && clientKeeps && delimited) {
    response.SetCloseConnection(false);
  }
}

}  // namespace

TDavServer::TDavServer(const std::string& programFolder)
    : properties_(programFolder.empty() ? ""
                                        : SystemToNative(programFolder + kDavPropertiesFile)) {}

bool TDavServer::Handles(std::string_view target) { return IsDavTarget(target); }

TBodyAdmission TDavServer::AdmitBody(const TMainState& state,
                                     const TIdHTTPRequestInfo& request) const {
  return IsForeign(request, state.Settings()) ? TBodyAdmission::Discard : TBodyAdmission::Handler;
}

void TDavServer::Answer(TDavCall& call) {
  const TStateSnapshot snapshot = call.State.Snapshot();
  TIdHTTPRequestInfo& request = call.Request;
  TIdHTTPResponseInfo& response = call.Response;
  const std::string host = TargetOf(request).Host;
  TDavExchange exchange(call, locks_, properties_, snapshot, TDavPath{});
  if (IsMisdirected(request.RawHeaders.IndexOfName("Host") >= 0, host,
                    snapshot.Settings.ExtraHosts)) {
    return exchange.Refuse(421, "This server answers only under its own addresses and host name.");
  }
  // A page of another site may make a browser send requests here; it gets nothing, and no
  // preflight is ever allowed (no CORS headers are sent).
  if (IsStartedByOtherSite(request.RawHeaders, host, false)) {
    return exchange.Refuse(403, "Requests started by other web sites are refused.");
  }
  const std::string& address = request.RemoteIP;
  if (snapshot.Settings.PassFlag && !call.State.IsAdmitted(address)) {
    // The password admits the client's address, as the login page does, and guesses are slowed
    // the same way.
    const bool sent = request.HasAuthorization && !request.AuthPassword.empty();
    if (!sent || !call.Throttle.WaitForTurn(address) ||
        !PasswordSentMatches(request.AuthPassword, call.State.Settings().Password)) {
      response.CustomHeaders.Add(kRealm);
      return exchange.Refuse(401, "Log in with the password (any user name).");
    }
    call.Throttle.Succeeded(address);
    call.State.Admit(address);
  }
  TDavPathFault fault = TDavPathFault::None;
  std::optional<TDavPath> path = ParseDavTarget(RawTarget(request), &fault);
  if (!path) return exchange.Refuse(400, "The address cannot be read as a path.");
  TDavExchange answer(call, locks_, properties_, snapshot, std::move(*path));
  if (!answer.IfHolds()) return;

  using THandler = void (*)(TDavExchange&);
  static constexpr std::pair<std::string_view, THandler> kMethods[] = {
      {"OPTIONS", DavOptions},
      {"PROPFIND", DavPropfind},
      {"GET", DavGet},
      {"HEAD", DavGet},
      {"PUT", DavPut},
      {"MKCOL", DavMkcol},
      {"DELETE", DavDelete},
      {"COPY", [](TDavExchange& e) { DavCopyMove(e, false); }},
      {"MOVE", [](TDavExchange& e) { DavCopyMove(e, true); }},
      {"PROPPATCH", DavProppatch},
      {"LOCK", DavLock},
      {"UNLOCK", DavUnlock},
  };
  for (const auto& [method, handler] : kMethods) {
    if (request.Command != method) continue;
    handler(answer);
    KeepConnectionIfSafe(answer);
    return;
  }
  response.CustomHeaders.Add(
      "Allow: OPTIONS, GET, HEAD, PUT, DELETE, PROPFIND, PROPPATCH, MKCOL, COPY, MOVE, LOCK, "
      "UNLOCK");
  answer.Refuse(405, "This method is not offered here.");
}

}  // namespace vm
