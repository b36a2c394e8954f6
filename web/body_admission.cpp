#include "web/body_admission.h"

#include "http/url_decode.h"
#include "web/document_table.h"
#include "web/extra_documents.h"
#include "web/request_guard.h"
#include "web/signin_document.h"
#include "web/upload_gate.h"

namespace vm {

TRequestTarget TargetOf(const TIdHTTPRequestInfo& request) {
  // "METHOD target VERSION": the target lies between the first and the last space.
  const std::string& line = request.RequestLine;
  const size_t first = line.find(' ');
  const size_t last = line.rfind(' ');
  std::string target = first < last ? line.substr(first + 1, last - first - 1) : "";
  TRequestTarget parts;
  const size_t question = target.find('?');
  if (question != std::string::npos) {
    parts.Query = target.substr(question + 1);
    target.erase(question);
  }
  std::string targetHost;
  parts.Document = DocumentFromTarget(target, &targetHost);
  parts.Host = request.Host.empty() ? targetHost : request.Host;
  return parts;
}

bool AnnouncesBody(const TIdHTTPRequestInfo& request) {
  // A post without a length runs until the client closes.
  return request.ContentLength > 0 || (request.Command == "POST" && !request.HasContentLength());
}

TBodyAdmission AdmitBody(const TMainState& state, const TIdHTTPRequestInfo& request) {
  const TRequestTarget target = TargetOf(request);
  const TSettings settings = state.Settings();
  if (IsMisdirected(request.RawHeaders.IndexOfName("Host") >= 0, target.Host, settings.ExtraHosts))
    return TBodyAdmission::Discard;
  const bool plainIndex =
      IsPlainIndexRequest(request.Command, target.Document, target.Query, AnnouncesBody(request));
  if (IsStartedByOtherSite(request.RawHeaders, target.Host, plainIndex))
    return TBodyAdmission::Discard;
  if (IsLoginDocument(target.Document)) return TBodyAdmission::SmallForm;
  // A code comes in the address; a body has nothing to say to the sign-in.
  if (IsSignInDocument(target.Document)) return TBodyAdmission::Discard;
  if (settings.PassFlag && !state.IsAdmitted(request.RemoteIP)) return TBodyAdmission::Discard;
  if (const TExtraDocument* extra = FindExtraDocument(target.Document)) return extra->Body;
  // An upload whose query names a folder that refuses it: the body is left on the connection,
  // for the answer to drop unwritten.
  if (request.Command == "POST" && AnnouncesBody(request) && DeclaredUploadTarget(target.Query) &&
      RefusalAtHead(state.Snapshot(), target.Document, target.Query) != TPostRefusal::None) {
    return TBodyAdmission::Handler;
  }
  return TBodyAdmission::Keep;
}

TPeerStanding StandingOf(const TMainState& state, const std::string& address) {
  return state.Settings().PassFlag && !state.IsAdmitted(address) ? TPeerStanding::Stranger
                                                                 : TPeerStanding::Known;
}

}  // namespace vm
