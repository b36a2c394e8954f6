#include "web/upload_gate.h"

#include "http/body_reader.h"
#include "platform/text_helpers.h"
#include "web/document_table.h"
#include "web/multipart_scan.h"

namespace vm {

namespace {

constexpr std::string_view kUploadMenu = "updimg";
// A body refused at its head is still read, to be dropped, up to this size, so that a browser
// hears the answer rather than a reset: the page script sends files up to 16 MiB as a form.
// A larger one is answered unread, and the connection closed.
constexpr int64_t kMaxDroppedUploadBody = int64_t{32} << 20;

std::string ParamText(std::string_view params, std::string_view name) {
  return PercentDecoded(ParamValue(params, name).value_or(""));
}

// True when a share that takes uploads lies inside the folder at sharePath (a drop box inside
// a viewed folder): a folder that the body names later may lie there.
bool HoldsUploadShare(const TStateSnapshot& state, std::string_view sharePath) {
  for (const std::string& entry : *state.SharedFolders) {
    const std::string path = SharedFolderPath(entry);
    if (path != sharePath && IsInsideFolder(path, sharePath) &&
        ModeAllows(ShareModeOf(state.Settings.ShareModes, GetField(entry, 0)),
                   TShareOperation::Upload)) {
      return true;
    }
  }
  return false;
}

}  // namespace

TPostRefusal TargetRefusal(const TShareAccess& access, const TUploadTarget& target,
                           TShareOperation operation) {
  if (access.OpenFolderIn(target.ShareName, target.FolderPath, operation)) {
    return TPostRefusal::None;
  }
  // There, but its share's mode does not allow it; or not there at all.
  return access.OpenFolderIn(target.ShareName, target.FolderPath) ? TPostRefusal::NotAllowed
                                                                  : TPostRefusal::NoFolder;
}

std::optional<TUploadTarget> DeclaredUploadTarget(std::string_view rawQuery) {
  const std::string share = ParamText(rawQuery, "dirname");
  if (share.empty()) return std::nullopt;
  return TUploadTarget{HexDecode(share), HexDecode(ParamText(rawQuery, "dirpath"))};
}

TPostRefusal RefusalAtHead(const TStateSnapshot& state, std::string_view document,
                           std::string_view rawQuery) {
  // Uploads are posted to the index page; other documents' queries name nothing to save.
  if (AnswerFor(document) != TAnswer::Index) return TPostRefusal::None;
  const std::optional<TUploadTarget> target = DeclaredUploadTarget(rawQuery);
  if (!target) return TPostRefusal::None;
  return TargetRefusal(TShareAccess(state), *target, TShareOperation::Upload);
}

TPostRefusal DropRefusedUpload(const TStateSnapshot& state, TIdTCPConnection* connection,
                               TIdHTTPRequestInfo& request) {
  // A client that asks before it sends waits for no body to be read: it hears the refusal at
  // once and sends nothing.
  const bool asksFirst = EqualTextIgnoreCase(request.RawHeaders.Values("Expect"), "100-continue");
  if (connection != nullptr && !asksFirst) {
    TIdBodyReader(*connection, request).Skip(kMaxDroppedUploadBody);
  }
  const TPostRefusal refusal = RefusalAtHead(state, request.Document, request.QueryString);
  // The settings may have changed since the head was read: the body is gone either way.
  return refusal == TPostRefusal::None ? TPostRefusal::NotAllowed : refusal;
}

TPostRefusal RefusalFromBodyStart(const TStateSnapshot& state, std::string_view start) {
  const size_t lineEnd = start.find("\r\n");
  if (lineEnd == std::string_view::npos || lineEnd < 2 || lineEnd >= kBoundaryLimit ||
      start.substr(0, 2) != "--") {
    return TPostRefusal::None;
  }
  // Only fields that end inside start count: it is cut after its last delimiter line, so that
  // a value cut short is never taken for a whole one.
  const std::string_view boundary = start.substr(0, lineEnd);
  const size_t last = start.rfind(boundary);
  if (last == 0) return TPostRefusal::None;
  const std::string_view whole = start.substr(0, last + boundary.size() + 2);
  TMemoryStream unused;  // the scan hands back pages of a file-backed body; this one is not
  const TMultipartScan scan(whole, unused, TBodyScanSizes{});
  std::string menu, share, folder;
  bool folderNamed = false;
  scan.ForEachField([&](const TFormField& field) {
    if (field.Name == "menu") menu = field.Value;
    if (field.Name == "dirname") share = field.Value;
    if (field.Name == "dirpath") {
      folder = field.Value;
      folderNamed = true;
    }
  });
  if (menu != kUploadMenu || share.empty()) return TPostRefusal::None;
  const TUploadTarget target{HexDecode(share), HexDecode(folder)};
  const TShareAccess access(state);
  const TPostRefusal refusal = TargetRefusal(access, target, TShareOperation::Upload);
  if (refusal == TPostRefusal::None || folderNamed) return refusal;
  // Without a folder path yet, the share's own folder refuses; a path that comes after the
  // files could still lead into a share inside it that takes them.
  const std::string sharePath = SharedFolderPathByName(*state.SharedFolders, target.ShareName);
  if (!sharePath.empty() && HoldsUploadShare(state, sharePath)) return TPostRefusal::None;
  return refusal;
}

TUploadGateStream::TUploadGateStream(const TMainState& state, std::string fileFolder,
                                     int64_t memoryLimit)
    : state_(state), memoryLimit_(memoryLimit), kept_(memoryLimit, std::move(fileFolder)) {}

// Once dropped, the stream is as long as what was received, and holds none of it.
int64_t TUploadGateStream::Size() const {
  return refusal_ == TPostRefusal::None ? kept_.Size() : dropped_;
}
int64_t TUploadGateStream::Position() const {
  return refusal_ == TPostRefusal::None ? kept_.Position() : dropped_;
}
void TUploadGateStream::SetPosition(int64_t position) {
  if (refusal_ == TPostRefusal::None) kept_.SetPosition(position);
}

void TUploadGateStream::SetSize(int64_t size) {
  if (refusal_ == TPostRefusal::None) kept_.SetSize(size);
}

size_t TUploadGateStream::Read(void* buffer, size_t count) { return kept_.Read(buffer, count); }

void TUploadGateStream::Write(const void* buffer, size_t count) {
  if (refusal_ != TPostRefusal::None) {
    dropped_ += static_cast<int64_t>(count);
    return;
  }
  if (!looked_ && kept_.Size() + static_cast<int64_t>(count) > memoryLimit_) {
    looked_ = true;
    refusal_ = RefusalFromBodyStart(state_.Snapshot(), kept_.View());
    if (refusal_ != TPostRefusal::None) {
      dropped_ = kept_.Size() + static_cast<int64_t>(count);
      kept_.SetSize(0);
      kept_.SetPosition(0);
      return;
    }
  }
  kept_.Write(buffer, count);
}

std::string_view TUploadGateStream::View() { return kept_.View(); }
void TUploadGateStream::ReleaseView(int64_t from, int64_t to) { kept_.ReleaseView(from, to); }
bool TUploadGateStream::CopyRangeTo(int fd, int64_t from, int64_t count) {
  return kept_.CopyRangeTo(fd, from, count);
}
bool TUploadGateStream::LinkAs(const std::string& nativePath, unsigned mode) {
  return kept_.LinkAs(nativePath, mode);
}

}  // namespace vm
