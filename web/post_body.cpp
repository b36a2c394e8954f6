// Request bodies: the stream they are read into, and what a posted body does.
//
// Three kinds of body are told apart by their bytes alone: a new-text form (URL-encoded, with
// "menu=newtext"), a multipart upload (a boundary line first, then parts), and any other body,
// which is handed back to the dispatcher as it stands.
#include "web/post_body.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <random>

#include "platform/atomic_file.h"
#include "platform/fs_names.h"
#include "platform/name_marks.h"
#include "platform/spill_stream.h"
#include "platform/text_helpers.h"
#include "web/multipart_scan.h"
#include "web/page_file.h"
#include "web/share_paths.h"
#include "web/share_save.h"
#include "web/upload_names.h"

namespace vm {

namespace {

constexpr std::string_view kNewTextMarker = "menu=newtext";
constexpr std::string_view kUploadMenu = "updimg";
constexpr std::string_view kUtf8Charset = "UTF-8";
constexpr char kPastDataName[] = "pastdata.txt";
// Names tried for the link that becomes "pastdata.txt" before it is copied instead.
constexpr int kMaxLinkTries = 8;
// "pastdata.txt" holds what a client sent: the owner's alone, as the page files.
constexpr unsigned kPastDataMode = 0600;

const TPattern kNewTextPattern{kNewTextMarker};

// The temporary "pastdata.txt" is first written to: hidden, and never a name the system gives
// a file of its own.
std::string TemporaryIn(const std::string& nativeFolder) {
  return nativeFolder + ".velmarind-XXXXXX";
}

// --- "pastdata.txt" ---------------------------------------------------------------------------

// A fresh name for a temporary in the folder, of the same form mkstemp gives TemporaryIn's.
std::string RandomTemporaryIn(const std::string& nativeFolder) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  constexpr size_t kPlaceholders = 6;  // the "XXXXXX" that ends the template
  std::string name = TemporaryIn(nativeFolder);
  std::random_device random;
  for (size_t k = name.size() - kPlaceholders; k < name.size(); ++k) {
    name[k] = kLetters[random() % (sizeof kLetters - 1)];
  }
  return name;
}

// Gives a body that lies in a nameless file on the program folder's file system a temporary
// name there without copying it; "" when it cannot be linked (in memory, another file system).
std::string LinkedCopy(TStream& stream, const std::string& nativeFolder) {
  for (int attempt = 0; attempt < kMaxLinkTries; ++attempt) {
    std::string temporary = RandomTemporaryIn(nativeFolder);
    if (stream.LinkAs(temporary, kPastDataMode)) return temporary;
    if (errno != EEXIST) break;
  }
  return "";
}

// Copies the body into a temporary file in the folder; its name, or "" when that failed.
std::string WrittenCopy(TStream& stream, const std::string& nativeFolder) {
  std::string temporary = TemporaryIn(nativeFolder);
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return "";
  bool ok = stream.CopyRangeTo(fd, 0, stream.Size());
  ok = fchmod(fd, kPastDataMode) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (ok) return temporary;
  unlink(temporary.c_str());
  return "";
}

// The body's copy in the program folder, made under a temporary name before anything is saved
// (a body that cannot be kept saves nothing), and renamed over "pastdata.txt" only when
// something was saved: a refused body leaves nothing. The rename replaces the old copy whole,
// so that concurrent posts never leave a torn one.
class TPendingPastData {
 public:
  TPendingPastData(const std::string& programFolder, TStream& stream) {
    const std::string nativeFolder = SystemToNative(programFolder);
    target_ = nativeFolder + kPastDataName;
    temporary_ = LinkedCopy(stream, nativeFolder);
    if (temporary_.empty()) temporary_ = WrittenCopy(stream, nativeFolder);
  }
  ~TPendingPastData() {
    if (!temporary_.empty()) unlink(temporary_.c_str());
  }
  TPendingPastData(const TPendingPastData&) = delete;
  TPendingPastData& operator=(const TPendingPastData&) = delete;

  bool Ready() const { return !temporary_.empty(); }
  // Puts the copy in place of "pastdata.txt".
  void Keep() {
    if (!temporary_.empty() && rename(temporary_.c_str(), target_.c_str()) == 0) temporary_.clear();
  }

 private:
  std::string target_;
  std::string temporary_;  // "" once kept, or when no copy could be made
};

// --- New-text body ---------------------------------------------------------------------------

// The value of the first field of that name as it was sent, still percent-encoded.
std::optional<std::string_view> RawFormField(std::string_view body, std::string_view name) {
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    std::string_view field = body.substr(start, end - start);
    const size_t equals = field.find('=');
    if (equals != std::string_view::npos && PercentDecoded(field.substr(0, equals)) == name) {
      return field.substr(equals + 1);
    }
    start = end + 1;
  }
  return std::nullopt;
}

// The value of the first field of that name, each value percent-decoded once on its own, so an
// "&" typed into the text (sent as %26) stays in it. The value ends at a decoded zero byte.
std::optional<std::string> FormField(std::string_view body, std::string_view name) {
  const std::optional<std::string_view> raw = RawFormField(body, name);
  if (!raw) return std::nullopt;
  return PercentDecoded(*raw);
}

// Percent-decoded as PercentDecoded does, except that a zero byte stays in: a name is judged by
// all of its bytes, not by those before a "%00".
std::string DecodedKeepingZeros(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t read = 0; read < text.size(); ++read) {
    const char c = text[read];
    if (c == '%' && text.size() - read >= 3) {
      out.push_back(static_cast<char>(HexPairValue(text[read + 1], text[read + 2])));
      read += 2;
    } else {
      out.push_back(c == '+' ? ' ' : c);
    }
  }
  return out;
}

// A name a new text may have: not empty, no separator, no control character, and not hidden:
// a leading "." would make a settings file (".bashrc" in a home share), and covers "." and "..".
bool IsUsableTextName(std::string_view name) {
  if (name.empty() || IsDotName(name)) return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || byte == '/') return false;
  }
  return true;
}

// Records why nothing (more) was saved; the parameter text is then empty.
std::string Refused(TPostOutcome& outcome, TPostRefusal refusal) {
  outcome.Refusal = refusal;
  return "";
}

std::string HandleNewText(const TShareAccess& access, const TStateSnapshot& state,
                          std::string_view body, TStream& stream, TPostOutcome& outcome) {
  const std::string folderName = HexDecode(FormField(body, "dirname").value_or(""));
  if (SharedFolderPathByName(*state.SharedFolders, folderName).empty()) {
    return Refused(outcome, TPostRefusal::NoFolder);
  }
  // A form sent as UTF-8 says so in "_charset_": its name and text are then UTF-8.
  const bool utf8 = EqualTextIgnoreCase(FormField(body, "_charset_").value_or(""), kUtf8Charset);
  const std::string typedName = DecodedKeepingZeros(RawFormField(body, "fname").value_or(""));
  if (!IsUsableTextName(typedName)) return Refused(outcome, TPostRefusal::BadName);
  const TUploadTarget target{folderName, HexDecode(FormField(body, "dirpath").value_or(""))};
  const TUniqueFd folder =
      access.OpenFolderIn(target.ShareName, target.FolderPath, TShareOperation::NewText);
  if (!folder) {
    return Refused(outcome, TargetRefusal(access, target, TShareOperation::NewText));
  }
  // The text goes to disk in binary: the browser's CR LF line ends are kept as they came.
  std::string text = FormField(body, "tbody").value_or("");
  std::string systemName = typedName;
  std::string nativeName = NewEntryNativeName(typedName);
  if (utf8) {
    // Saved as typed: in Shift_JIS when it converts without loss, as today's texts are; else in
    // the UTF-8 it came in.
    if (std::optional<std::string> sjis = Utf8ToShiftJis(text)) text = std::move(*sjis);
    systemName = NativeToSystem(typedName);
    nativeName = typedName;
  }
  if (HasLayoutMarks(nativeName)) return Refused(outcome, TPostRefusal::BadName);
  TPendingPastData past(state.ProgramFolder, stream);
  if (!past.Ready()) return "";
  // In a drop box the client learns nothing of the names there: a taken name gets a mark it
  // cannot guess, and the answer names the text as typed.
  const bool dropBox = access.ModeAt(folder.Get()) == TShareMode::UploadOnly;
  std::string savedNative;
  auto nameFor = [&](int n) {
    savedNative = n <= 1    ? nativeName
                  : dropBox ? WithUnguessableMark(nativeName)
                            : WithCopyNumber(nativeName, n);
    return savedNative;
  };
  int attempt = 0;
  const TSaveOutcome saved = SaveNewFile(
      folder.Get(), nameFor, dropBox ? 1 + kMaxMarkTries : kMaxCopyNumber,
      [&text](int fd) { return WriteAllBytes(fd, text) && fchmod(fd, kPublicFileMode) == 0; },
      attempt);
  if (saved == TSaveOutcome::NameTooLong) return Refused(outcome, TPostRefusal::BadName);
  if (saved != TSaveOutcome::Saved) return Refused(outcome, TPostRefusal::CannotWrite);
  past.Keep();
  const std::string savedName =
      dropBox && attempt > 1 ? NativeToSystem(savedNative) : WithCopyNumber(systemName, attempt);
  outcome.Change = TShareChange{TShareChange::TKind::NewText, folderName, savedName, 1, "", ""};
  outcome.SavedNames.push_back(dropBox ? systemName : savedName);
  return PercentDecoded(body);
}

// --- Multipart upload ------------------------------------------------------------------------

// The plain fields as "&name=value" items, in body order. The text is sized before it is
// written, so that a body of many fields costs one copy of them and no more.
std::string FormFieldItems(const TMultipartScan& scan, std::string& folderField,
                           std::string& menuField, std::string& folderPathField,
                           std::string& charsetField) {
  size_t size = 0;
  scan.ForEachField(
      [&size](const TFormField& field) { size += 2 + field.Name.size() + field.Value.size(); });
  std::string items;
  items.reserve(size);
  scan.ForEachField([&](const TFormField& field) {
    items += '&';
    items += field.Name;
    items += '=';
    items += field.Value;
    // A later field of the same name replaces an earlier one.
    if (field.Name == "dirname") folderField = field.Value;
    if (field.Name == "menu") menuField = field.Value;
    if (field.Name == "dirpath") folderPathField = field.Value;
    if (field.Name == "_charset_") charsetField = field.Value;
  });
  return items;
}

// A browser's file name as UTF-8: as it came when the form says it sent UTF-8 (the page
// script's uploads do), else read as the Shift_JIS of the page the form is on.
std::string BrowserNameUtf8(std::string_view name, bool utf8) {
  if (utf8) return std::string(name);
  return ShiftJisToUtf8Strict(name).value_or(std::string(name));
}

std::string HandleUpload(const TShareAccess& access, const TStateSnapshot& state,
                         std::string_view body, TStream& stream, const TBodyScanSizes& sizes,
                         TPostOutcome& outcome) {
  const TMultipartScan scan(body, stream, sizes);
  std::string folderField, menuField, folderPathField, charsetField;
  std::string result =
      FormFieldItems(scan, folderField, menuField, folderPathField, charsetField);
  const bool utf8Names = EqualTextIgnoreCase(charsetField, kUtf8Charset);
  if (menuField != kUploadMenu) return "";
  if (folderField.empty()) return Refused(outcome, TPostRefusal::NoFolder);
  // The folder being viewed when the page says which, else the share's own.
  const TUploadTarget target{HexDecode(folderField), HexDecode(folderPathField)};
  const TUniqueFd folder =
      access.OpenFolderIn(target.ShareName, target.FolderPath, TShareOperation::Upload);
  if (!folder) return Refused(outcome, TargetRefusal(access, target, TShareOperation::Upload));
  TPendingPastData past(state.ProgramFolder, stream);
  if (!past.Ready()) return "";
  // In a drop box a taken name gets a mark the client cannot guess, and the answer gives the
  // name as sent: nothing tells the client which names are there.
  const bool dropBox = access.ModeAt(folder.Get()) == TShareMode::UploadOnly;
  int savedCount = 0;
  bool complete = true;
  scan.ForEachFilePart([&](const TFilePart& part) {
    // The browser's name made safe, or a fresh "__vupd_img_" + stamp + extension name; a taken
    // name gets the next copy number, or moves the stamp on by a millisecond.
    const TUploadNamer namer(state.Settings.KeepUploadNames,
                             BrowserNameUtf8(part.FileName, utf8Names),
                             utf8Names ? part.Extension : NewEntryNativeName(part.Extension),
                             std::chrono::system_clock::now(), dropBox);
    // From a file-backed stream the kernel copies: the content never passes through here.
    auto copy = [&](int fd) {
      return stream.CopyRangeTo(fd, static_cast<int64_t>(part.DataStart),
                                static_cast<int64_t>(part.DataLength));
    };
    int attempt = 0;
    const auto nameFor = [&namer](int n) { return namer.NativeName(n); };
    switch (SaveNewFile(folder.Get(), nameFor, namer.MaxAttempts(), copy, attempt)) {
      case TSaveOutcome::Saved: {
        ++savedCount;
        const std::string savedName = NativeToSystem(namer.AnsweredName(attempt));
        outcome.SavedNames.push_back(savedName);
        result += "&";
        result += part.FieldName;
        result += "=" + HexEncode(savedName);
        return true;
      }
      case TSaveOutcome::NotWritten:
        outcome.Refusal = TPostRefusal::CannotWrite;
        return true;  // nothing is left of it; the other parts may still fit
      default:
        complete = false;  // the folder takes no file: the rest of the body is not looked at
        return false;
    }
  });
  // Files saved before a failure stay, so they count as received, and the body is kept.
  if (savedCount > 0) {
    past.Keep();
    outcome.Change =
        TShareChange{TShareChange::TKind::Upload, target.ShareName, "", savedCount, "", ""};
  }
  if (!complete) return Refused(outcome, TPostRefusal::CannotWrite);
  return result;
}

}  // namespace

std::unique_ptr<TStream> CreatePostStream() { return std::make_unique<TSpillStream>(); }

std::unique_ptr<TStream> CreatePostStream(const std::string& programFolder) {
  // A large body kept on the program folder's file system becomes "pastdata.txt" by a link.
  return std::make_unique<TSpillStream>(kSpillMemoryLimit, SystemToNative(programFolder));
}

std::unique_ptr<TStream> CreatePostStream(const TMainState& state) {
  return std::make_unique<TUploadGateStream>(state, SystemToNative(state.ProgramFolder()));
}

std::string ParsePostBody(const TStateSnapshot& state, TStream& stream) {
  TPostOutcome ignored;
  return ParsePostBody(state, stream, ignored);
}

std::string ParsePostBody(const TStateSnapshot& state, TStream& stream, TPostOutcome& outcome) {
  return ParsePostBody(state, stream, outcome, TBodyScanSizes{});
}

std::string ParsePostBody(const TStateSnapshot& state, TStream& stream, TPostOutcome& outcome,
                          const TBodyScanSizes& sizes) {
  outcome = TPostOutcome{};
  // A body whose first fields named a folder that refuses it was dropped as it came.
  if (const auto* gate = dynamic_cast<const TUploadGateStream*>(&stream)) {
    if (gate->Refusal() != TPostRefusal::None) return Refused(outcome, gate->Refusal());
  }
  if (stream.Size() < 1) return "";
  const std::string_view body = stream.View();
  const size_t lineEnd = body.find("\r\n");
  const std::string_view boundary =
      lineEnd == std::string_view::npos ? std::string_view() : body.substr(0, lineEnd);
  // Inside a multipart body the marker may be any file's content: it only counts elsewhere.
  const bool multipart = boundary.size() >= 2 && boundary.substr(0, 2) == "--";
  const TShareAccess access(state);
  TPatternFinder marker(kNewTextPattern, body);
  if (!multipart &&
      TBodySearch(body, stream, sizes).Find(marker, 0, body.size()) != std::string_view::npos) {
    return HandleNewText(access, state, body, stream, outcome);
  }
  if (boundary.empty()) return std::string(body);
  if (boundary.size() >= kBoundaryLimit) return "";
  return HandleUpload(access, state, body, stream, sizes, outcome);
}

}  // namespace vm
