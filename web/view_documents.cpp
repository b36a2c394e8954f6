#include "web/view_documents.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <initializer_list>
#include <optional>

#include "http/tcp_connection.h"
#include "platform/text_helpers.h"
#include "web/download.h"
#include "web/share_paths.h"
#include "web/thumbnail_source.h"
#include "web/video_facts.h"
#include "web/view_types.h"

namespace vm {

namespace {

// A shown file is a document of its own origin-less sandbox: a script in it (an SVG or HTML
// that reached a browser some other way, a polyglot image) runs nowhere and reaches nothing.
constexpr char kSandbox[] = "Content-Security-Policy: sandbox";
constexpr char kInline[] = "Content-Disposition: inline";
// The page asks with "v" = the file's date and size: such an address names one state of the
// file and may be kept; without it, the browser asks again every time.
constexpr char kKeepVersioned[] = "Cache-Control: private, max-age=604800";
constexpr char kAskAgain[] = "Cache-Control: no-cache";
// Enough of a text to tell UTF-8 from Shift_JIS.
constexpr size_t kCharsetSample = 64 * 1024;
constexpr int kPlaceholderCode = 415;
constexpr int kBusyCode = 503;
constexpr char kRetrySoon[] = "Retry-After: 1";
// A video's facts are a few short lines.
constexpr size_t kMaxFactsBytes = 4096;

struct TViewable {
  TUniqueFd File;
  std::string RequestedPath;  // system text, for failure messages
  std::string NativePath;
  TViewType Type;
  struct stat Info {};
};

// The gate of both documents, in one place: a request another site started, a path outside
// the shares or hidden, a missing file, a folder and a file of no viewable kind all end here,
// alike. Admits what a download admits, and only files a browser may be shown.
std::optional<TViewable> OpenViewable(const TDocumentCall& call) {
  if (call.Foreign) return std::nullopt;
  TViewable viewable;
  viewable.RequestedPath = HexDecode(GetParam(call.Params, "file"));
  viewable.Type = SystemViewTypes().Lookup(viewable.RequestedPath);
  if (viewable.Type.Kind == TViewKind::None) return std::nullopt;
  // Looking is downloading as far as the share's permission goes: a drop box shows nothing.
  const TShareAccess access(call.Snapshot);
  TSharedEntry entry =
      access.Open(viewable.RequestedPath, TEntryKind::File, TShareOperation::Download);
  if (!entry.Fd || fstat(entry.Fd.Get(), &viewable.Info) != 0) return std::nullopt;
  viewable.File = std::move(entry.Fd);
  viewable.NativePath = std::move(entry.NativePath);
  return viewable;
}

void AnswerStatus(TIdHTTPResponseInfo& response, int code) {
  response.SetResponseCode(code);
  response.ContentType = "text/plain";
  response.ContentText = std::string(response.ResponseText) + "\r\n";
  response.CustomHeaders.Add(kSandbox);
}

void AnswerNotFound(TIdHTTPResponseInfo& response) { AnswerStatus(response, 404); }

void AddCaching(const TDocumentCall& call) {
  call.Response.CustomHeaders.Add(GetParam(call.Params, "v").empty() ? kAskAgain : kKeepVersioned);
}

std::string TextType(int fd) {
  std::string sample(kCharsetSample, '\0');
  const ssize_t n = pread(fd, sample.data(), sample.size(), 0);
  sample.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return "text/plain; charset=" + std::string(DetectTextCharset(sample));
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The whole of a small kept file (a video's facts).
std::string ReadSmallFile(int fd) {
  std::string bytes(kMaxFactsBytes, '\0');
  const ssize_t n = pread(fd, bytes.data(), bytes.size(), 0);
  bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return bytes;
}

// True when the browser has closed its side: it no longer wants the answer.
bool PeerGone(TIdPeerThread* thread) {
  if (thread == nullptr || thread->Connection() == nullptr) return false;
  pollfd peer{thread->Connection()->Socket(), POLLRDHUP, 0};
  if (poll(&peer, 1, 0) < 0) return false;
  return (peer.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

void AnswerViewDocument(TDocumentCall& call) {
  std::optional<TViewable> viewable = OpenViewable(call);
  // A picture is shown converted (vm-picture) and downloaded as it is.
  if (!viewable || viewable->Type.Kind == TViewKind::Picture) {
    AnswerNotFound(call.Response);
    return;
  }
  TIdHTTPResponseInfo& response = call.Response;
  response.ContentType = viewable->Type.Kind == TViewKind::Text ? TextType(viewable->File.Get())
                                                                : viewable->Type.ContentType;
  response.CustomHeaders.Add(kSandbox);
  response.CustomHeaders.Add(kInline + ExtendedFileNameParameter(BaseName(viewable->NativePath)));
  AddCaching(call);
  // A video seeks by asking for the part it needs.
  response.AcceptRanges = true;
  response.RequestedRange = call.Request.RawHeaders.Values("Range");
  call.Server.ServeOpenFile(call.Thread, response, viewable->File.Release(),
                            viewable->RequestedPath);
}

namespace {

// Answers with what the thumbnail source makes of a file of one of the kinds: 415 when it
// cannot, 503 when too many wait. convert turns bytes made or kept into the answer's body.
void AnswerMade(TDocumentCall& call, std::initializer_list<TViewKind> kinds,
                TMediaWork (*workOf)(TViewKind), std::string (*convert)(std::string) = nullptr) {
  std::optional<TViewable> viewable = OpenViewable(call);
  if (!viewable || std::find(kinds.begin(), kinds.end(), viewable->Type.Kind) == kinds.end()) {
    AnswerNotFound(call.Response);
    return;
  }
  TIdHTTPResponseInfo& response = call.Response;
  const std::shared_ptr<TThumbnailSource> source = ThumbnailSourceOf(call.Server);
  if (!source) {
    AnswerStatus(response, kPlaceholderCode);
    return;
  }
  TIdPeerThread* thread = call.Thread;
  const int fd = viewable->File.Get();
  TThumbnail made =
      source->Thumbnail({fd, DescriptorPath(fd).value_or(viewable->NativePath), viewable->Info,
                         [thread] { return PeerGone(thread); }, workOf(viewable->Type.Kind)});
  switch (made.Outcome) {
    case TThumbnail::TOutcome::Image:
      break;
    case TThumbnail::TOutcome::Placeholder:
      AnswerStatus(response, kPlaceholderCode);
      return;
    case TThumbnail::TOutcome::Busy:
    case TThumbnail::TOutcome::Dropped:  // nobody reads this one
      AnswerStatus(response, kBusyCode);
      response.CustomHeaders.Add(kRetrySoon);
      return;
  }
  response.CustomHeaders.Add(kSandbox);
  AddCaching(call);
  if (convert != nullptr) {
    if (made.File) made.Bytes = ReadSmallFile(made.File.Get());
    response.ContentType = "application/json";
    response.ContentText = convert(std::move(made.Bytes));
    return;
  }
  response.ContentType = made.ContentType;
  if (made.File) {
    call.Server.ServeOpenFile(call.Thread, response, made.File.Release(), viewable->RequestedPath);
  } else {
    response.ContentText = std::move(made.Bytes);
  }
}

}  // namespace

void AnswerThumbnailDocument(TDocumentCall& call) {
  AnswerMade(call, {TViewKind::Image, TViewKind::Picture, TViewKind::Video}, [](TViewKind kind) {
    return kind == TViewKind::Video ? TMediaWork::VideoThumbnail : TMediaWork::Thumbnail;
  });
}

void AnswerPictureDocument(TDocumentCall& call) {
  AnswerMade(call, {TViewKind::Picture}, [](TViewKind) { return TMediaWork::View; });
}

void AnswerVideoFactsDocument(TDocumentCall& call) {
  AnswerMade(
      call, {TViewKind::Video}, [](TViewKind) { return TMediaWork::VideoFacts; },
      [](std::string lines) { return VideoFactsJson(lines); });
}

}  // namespace vm
