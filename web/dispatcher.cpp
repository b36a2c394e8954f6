#include "web/dispatcher.h"

#include <optional>
#include <string>

#include "platform/text_helpers.h"
#include "web/download.h"
#include "web/page_file.h"
#include "web/pages.h"
#include "web/post_body.h"
#include "web/request_guard.h"

namespace vm {

namespace {

enum class TAnswer { Index, Listing, Download, Text, Blank, StyleSheet, Script };

struct TDocumentRow {
  const char* key;  // matched as a case-sensitive substring of the document
  TAnswer answer;
};

// Tested in this order; the first key found anywhere in the document wins, so
// "/x/script.html/index.html" gets the index page.
// clang-format off
constexpr TDocumentRow kDocumentTable[] = {
    {"index.html",    TAnswer::Index},
    {"script.html",   TAnswer::Listing},
    {"download.html", TAnswer::Download},
    {"text.html",     TAnswer::Text},
    {"blank.html",    TAnswer::Blank},
    {"vcom.css",      TAnswer::StyleSheet},
    {"vcom.js",       TAnswer::Script},
};
// clang-format on

constexpr char kLoginDocument[] = "login.html";
constexpr char kMissingFolderHeader[] = "X-Velmarind-Folder: missing";

constexpr int kMisdirectedCode = 421;
constexpr char kMisdirectedReason[] = "Misdirected Request";
constexpr char kMisdirectedText[] =
    "This server answers only under its own addresses and host name.\r\n";

// A request sent under a host name that is not this machine's comes from a page that pointed
// its own name at our address: answering it would let that page read the shares.
bool IsMisdirected(const TIdHTTPRequestInfo& request) {
  const bool hostGiven = request.RawHeaders.IndexOfName("Host") >= 0 || !request.Host.empty();
  return hostGiven && !NamesThisMachine(request.Host);
}

void AnswerMisdirected(TIdHTTPResponseInfo& response) {
  response.SetResponseCode(kMisdirectedCode);
  response.ResponseText = kMisdirectedReason;
  response.ContentType = "text/plain";
  response.ContentText = kMisdirectedText;
}

// A post that a page of another site made the browser send: admission goes by the client's
// address, so without this any site the person visits could write into the shares.
bool IsCrossSitePost(const TIdHTTPRequestInfo& request) {
  if (request.Command != "POST" || request.RawHeaders.IndexOfName("Origin") < 0) return false;
  return !IsSameOrigin(request.RawHeaders.Values("Origin"), request.Host);
}

TAnswer AnswerFor(const std::string& document) {
  for (const TDocumentRow& row : kDocumentTable) {
    if (document.find(row.key) != std::string::npos) return row.answer;
  }
  return TAnswer::Index;  // no "not found": every other document gets the index page
}

// What a request is answered with: the bytes of the page file it wrote, or a file on disk.
struct TAnswerBody {
  std::string page;  // a generated page, written to its page file and sent from here
  std::string file;  // or the path of a file to serve (a download, the installed files)
  TUniqueFd openFile = TUniqueFd();  // a download: the file opened and checked, served as it is
};

// A page generator that needs nothing but the request's parameters.
using TPageMaker = std::string (*)(const TStateSnapshot& state, const std::string& params,
                                   const std::string& pageFile);

// Has make write the client's page file of that kind; the answer is the bytes it wrote, not
// the file: another request from the same address may replace the file before it is read.
TAnswerBody WritePage(TPageMaker make, const char* kind, const TStateSnapshot& snapshot,
                      const std::string& address, const std::string& params) {
  return {make(snapshot, params, PageFilePath(snapshot.ProgramFolder, kind, address)), ""};
}

// The login gate for a client that must log in.
TAnswerBody AnswerGatedClient(TMainState& state, const TStateSnapshot& snapshot,
                              const std::string& address, const std::string& document,
                              const std::string& params) {
  const bool loginDocument = document.find(kLoginDocument) != std::string::npos;
  if (loginDocument && PasswordMatches(params, snapshot.Settings.Password)) {
    state.Admit(address);
    return WritePage(MakeLoginDonePage, "index", snapshot, address, params);
  }
  // Every other document asks for the password; a failed login says that it failed.
  const std::string page = PageFilePath(snapshot.ProgramFolder, "login", address);
  return {MakeLoginPage(snapshot, params, page, loginDocument ? "r" : ""), ""};
}

// Routes by the document table and has the answer written.
TAnswerBody AnswerDocument(const TStateSnapshot& snapshot, const std::string& address,
                           const std::string& document, const std::string& params,
                           TIdHTTPResponseInfo& response) {
  const std::string& folder = snapshot.ProgramFolder;
  switch (AnswerFor(document)) {
    case TAnswer::Index:
      break;
    case TAnswer::Listing: {
      bool found = false;
      TAnswerBody answer{MakeListingPage(snapshot, params,
                                         PageFilePath(snapshot.ProgramFolder, "script", address),
                                         &found),
                         ""};
      // The page script tells a folder that went away from an empty one by this.
      if (!found) response.CustomHeaders.Add(kMissingFolderHeader);
      return answer;
    }
    case TAnswer::Download: {
      TDownload download = PrepareDownload(snapshot, params, response);
      return {"", download.Path, std::move(download.File)};
    }
    case TAnswer::Text:
      return WritePage(MakeTextPage, "text", snapshot, address, params);
    case TAnswer::Blank:
      return WritePage(MakeBlankPage, "blank", snapshot, address, params);
    case TAnswer::StyleSheet:
      return {"", folder + "page/vcom.css"};
    case TAnswer::Script:
      return {"", folder + "page/vcom.js"};
  }
  return WritePage(MakeIndexPage, "index", snapshot, address, params);
}

}  // namespace

void IdHTTPServer1CommandGet(TMainState& state, TIdCustomHTTPServer& server, TIdPeerThread* thread,
                             TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
  if (IsMisdirected(request)) {
    AnswerMisdirected(response);
    return;
  }
  // One snapshot for the whole request: the settings window may rebuild the state meanwhile.
  const TStateSnapshot snapshot = state.Snapshot();
  const std::string address = request.RemoteIP;
  const std::string document = request.Document;
  // A cross-site post is answered as if it had no parameters: nothing in it is looked at.
  const bool crossSite = IsCrossSitePost(request);
  std::string params = crossSite ? std::string() : PercentDecoded(request.RawParams);

  const bool gated = snapshot.Settings.PassFlag && !state.IsAdmitted(address);
  TAnswerBody answer;
  if (gated) {
    // A client that must still log in gets no say over the shared folders: its body is
    // neither parsed nor saved (the login form itself is sent with GET).
    answer = AnswerGatedClient(state, snapshot, address, document, params);
  } else {
    if (!crossSite && request.PostStream && request.PostStream->Size() > 0) {
      TPostOutcome outcome;
      params = PercentDecoded(ParsePostBody(snapshot, *request.PostStream, outcome));
      if (outcome.Change) {
        outcome.Change->ClientAddress = address;
        state.NotifyShareChange(*outcome.Change);
      }
    }
    answer = AnswerDocument(snapshot, address, document, params, response);
  }
  if (answer.file.empty()) {
    // The same header as for the page file served from disk: type, length, then the bytes.
    response.ContentText = std::move(answer.page);
    return;
  }
  // Only answers that accept ranges (downloads) look at it.
  response.RequestedRange = request.RawHeaders.Values("Range");
  if (answer.openFile) {
    server.ServeOpenFile(thread, response, answer.openFile.Release(), answer.file);
  } else {
    server.ServeFile(thread, response, answer.file);
  }
}

}  // namespace vm
