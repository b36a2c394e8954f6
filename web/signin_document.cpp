#include "web/signin_document.h"

#include <string>

#include "platform/text_helpers.h"
#include "state/signin_tokens.h"
#include "web/document_table.h"
#include "web/request_guard.h"

namespace vm {

namespace {

constexpr int kSeeOtherCode = 303;
// Relative to the sign-in document: the folder it lies in, which the index page answers.
constexpr char kIndexLocation[] = "./";
// The answer holds the way in; no cache may keep it, nor offer it for Back.
constexpr char kNoStore[] = "Cache-Control: no-store";

}  // namespace

bool IsSignInDocument(std::string_view document) {
  if (HasDesignedKey(document)) return false;
  return document.substr(document.rfind('/') + 1) == kSignInDocument;
}

TSignInOutcome SignIn(TMainState& state, TLoginThrottle& throttle, const TStateSnapshot& snapshot,
                      const TIdHTTPRequestInfo& request) {
  const std::string& address = request.RemoteIP;
  if (!snapshot.Settings.PassFlag || state.IsAdmitted(address)) return TSignInOutcome::GoOn;
  // A link on another site's page must not spend the code, nor count against the address. A
  // camera app hands the address to the browser as a typed one ("Sec-Fetch-Site: none", or no
  // fetch metadata at all from older browsers), which is the person's own doing.
  if (!snapshot.Settings.QrSignIn || request.Command != "GET" ||
      IsStartedByOtherSite(request.RawHeaders, request.Host, false)) {
    return TSignInOutcome::NotLooked;
  }
  const std::string token = GetParam(PercentDecoded(request.RawParams), kSignInParam);
  // Checked after its turn, as a password is: a wrong code counts as a wrong password.
  if (!throttle.WaitForTurn(address) || !state.SignInTokens().Redeem(token)) {
    return TSignInOutcome::Refused;
  }
  throttle.Succeeded(address);
  state.Admit(address, TAdmission::Scan);
  return TSignInOutcome::GoOn;
}

void AnswerGoOn(TIdHTTPResponseInfo& response) {
  response.SetResponseCode(kSeeOtherCode);
  response.Location = kIndexLocation;
  response.CustomHeaders.Add(kNoStore);
  response.ContentType = "text/plain";
  response.ContentText = std::string(response.ResponseText) + "\r\n";
}

}  // namespace vm
