// Whether a posted file may be taken at all, decided before its body is kept: a body that is
// refused (no such folder, a share that takes no files) is dropped as it arrives and never
// written anywhere.
//
// The decision is made as early as the request allows:
// - at the head, when its query names the folder ("dirname", "dirpath" in hex, as the page
//   script sends them beside the body's own fields): a refused body is left unread;
// - when the body outgrows memory, from the fields it has shown so far (a form that sends the
//   folder before the files): the rest is not kept;
// - else once the whole body is there, by the parser, before anything is saved.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "http/request_info.h"
#include "http/tcp_connection.h"
#include "platform/spill_stream.h"
#include "state/main_state.h"
#include "web/share_paths.h"

namespace vm {

// Why a body that asked to save something saved nothing.
enum class TPostRefusal {
  None,      // nothing was refused (or nothing was asked)
  NoFolder,  // the named shared folder (or the folder inside it) is not there or not allowed
  BadName,   // the file name is unusable (empty, a separator, a control character, a leading ".")
  CannotWrite,  // the file system refused (full, read-only, no access)
  NotAllowed,   // the share's mode does not take new files (a share for viewing only)
};

// A folder that is to take a new file: a share's name and a folder path inside it ("" for the
// share's own folder), system text.
struct TUploadTarget {
  std::string ShareName;
  std::string FolderPath;
};

// Why the folder cannot take the operation (NoFolder when it is not there or lies outside the
// share, NotAllowed when the share's mode forbids it); None when it can.
TPostRefusal TargetRefusal(const TShareAccess& access, const TUploadTarget& target,
                           TShareOperation operation);

// The folder a form upload's query names; nothing when it names none. rawQuery is undecoded.
std::optional<TUploadTarget> DeclaredUploadTarget(std::string_view rawQuery);

// Why an upload posted to that document with that query is refused before its body is read;
// None when the query names no folder, or one that takes files.
TPostRefusal RefusalAtHead(const TStateSnapshot& state, std::string_view document,
                           std::string_view rawQuery);

// For a request whose body RefusalAtHead refused (the request loop left it on the connection):
// reads and drops the body when it is small enough for the client to hear the answer after it,
// and says why it was refused. connection may be null (nothing is read then).
TPostRefusal DropRefusedUpload(const TStateSnapshot& state, TIdTCPConnection* connection,
                               TIdHTTPRequestInfo& request);

// Why a multipart upload whose first bytes are start will certainly be refused, from the fields
// that lie whole in start; None when they do not tell yet.
TPostRefusal RefusalFromBodyStart(const TStateSnapshot& state, std::string_view start);

// A post stream (see TSpillStream) that, when the body grows past what it holds in memory, looks
// at the body's first fields: when they name a folder that refuses the upload, it keeps nothing
// more, so that a large refused upload never reaches the disk.
class TUploadGateStream : public TStream {
 public:
  // fileFolder as for TSpillStream; state is asked for its shares when the body grows.
  TUploadGateStream(const TMainState& state, std::string fileFolder,
                    int64_t memoryLimit = kSpillMemoryLimit);

  // The refusal once the body was dropped; None while it is kept.
  TPostRefusal Refusal() const { return refusal_; }

  int64_t Size() const override;
  int64_t Position() const override;
  void SetPosition(int64_t position) override;
  void SetSize(int64_t size) override;
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  std::string_view View() override;
  void ReleaseView(int64_t from, int64_t to) override;
  bool CopyRangeTo(int fd, int64_t from, int64_t count) override;
  bool LinkAs(const std::string& nativePath, unsigned mode) override;

 private:
  const TMainState& state_;
  int64_t memoryLimit_;
  TSpillStream kept_;
  bool looked_ = false;                        // the first fields were looked at
  TPostRefusal refusal_ = TPostRefusal::None;  // set: nothing more is kept
  int64_t dropped_ = 0;                        // bytes received since, counted only
};

}  // namespace vm
