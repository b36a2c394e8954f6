#include "server/form_hide_core.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string_view>

#include "announce/service_announcer.h"
#include "dav/dav_server.h"
#include "http/tcp_connection.h"
#include "platform/address_watch.h"
#include "platform/exception.h"
#include "platform/fs_names.h"
#include "platform/host_identity.h"
#include "platform/message_language.h"
#include "platform/sjis.h"
#include "platform/system_info.h"
#include "platform/text_helpers.h"
#include "platform/trash_can.h"
#include "state/config_store.h"
#include "thumbs/thumbnail_cache.h"
#include "thumbs/view_cache.h"
#include "web/body_admission.h"
#include "web/chunk_upload.h"
#include "web/dispatcher.h"
#include "web/document_table.h"
#include "web/page_file.h"
#include "web/pages.h"
#include "web/post_body.h"

extern char** environ;

namespace vm {
namespace {

const char kPageFolder[] = "page/";
const char kGoHomeFile[] = "gohome.html";
const char kOpener[] = "xdg-open";
// Lines every answer carries. nosniff: a browser takes each answer for the type it is sent as,
// never for a page it guessed. same-origin: addresses (which name folders) go to no other site;
// unlike no-referrer it leaves the Origin of our own form posts intact, which the cross-site
// check needs (with no-referrer a browser sends "Origin: null", as a foreign sandboxed frame does).
const std::vector<std::string> kCommonHeaders = {
    "X-Content-Type-Options: nosniff",
    "Referrer-Policy: same-origin",
};

// An opener that fails within this time after its start could not start a program; one that
// ends later ran one (a browser xdg-open waited for), and how that ended is not ours to report.
constexpr auto kOpenerFailureWindow = std::chrono::seconds(10);

// The path the announced service names: where the start page is.
constexpr char kServicePath[] = "/velmarind/";
// What the desktop's list of clients keeps of a request; a longer target is cut.
constexpr size_t kMaxRequestSummary = 200;

TNetworkName::TStatus NameStatusOf(TAnnounceStatus status) {
  switch (status) {
    case TAnnounceStatus::Off:
      return TNetworkName::TStatus::Off;
    case TAnnounceStatus::NoDaemon:
      return TNetworkName::TStatus::NoDaemon;
    case TAnnounceStatus::Registering:
      return TNetworkName::TStatus::Waiting;
    case TAnnounceStatus::Announced:
      return TNetworkName::TStatus::Announced;
    case TAnnounceStatus::Failed:
      break;
  }
  return TNetworkName::TStatus::Failed;
}

// The name browsers list the service under: the program and the machine.
std::string ServiceName() {
  const std::string host = ReadHostIdentity().HostName;
  return host.empty() ? "Velmarind" : "Velmarind (" + host + ")";
}

// The last segment of a path (system text).
std::string LastSegment(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a download request names, by its name (system text); empty for none.
std::string DownloadName(const TIdHTTPRequestInfo& request) {
  return LastSegment(HexDecode(GetParam(PercentDecoded(request.RawParams), "file")));
}

// "GET /velmarind/index.html", and the file's name for a download; cut to kMaxRequestSummary
// bytes without splitting a character.
std::string RequestSummary(const TIdHTTPRequestInfo& request, const std::string& fileName) {
  std::string summary = request.Command + " " + request.Document;
  if (!fileName.empty()) summary += " (" + fileName + ")";
  if (summary.size() > kMaxRequestSummary) {
    size_t length = kMaxRequestSummary;
    if (IsSjisTrailByteAt(summary, length)) --length;
    summary.resize(length);
  }
  return summary;
}

bool EndsWithHtml(std::string_view name) {
  static constexpr std::string_view kSuffix = ".html";
  return name.size() >= kSuffix.size() &&
         EqualTextIgnoreCase(name.substr(name.size() - kSuffix.size()), kSuffix);
}

// Deletes the "*.html" files of a folder (native path ending in "/") that are not folders,
// and the regular files a page write left behind when the process died in the middle of it
// ("*.html.??????"); other files stay, and a file that cannot be deleted is left as it is.
void DeletePageFiles(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (EndsWithHtml(name) || IsPageFileTemporaryName(name)) names.push_back(name);
  }
  closedir(dir);
  for (const std::string& name : names) {
    std::string path = folder + name;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) continue;
    const bool deletable = EndsWithHtml(name) ? !S_ISDIR(info.st_mode) : S_ISREG(info.st_mode);
    if (deletable) unlink(path.c_str());
  }
}

// True when a file can be created in the folder (native path ending in "/").
bool CanCreateFileIn(const std::string& folder) {
  std::string probe = folder + ".velmarind-probe-XXXXXX";
  const int fd = mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  unlink(probe.c_str());
  return true;
}

std::string WithFolder(std::string text, const std::string& folder) {
  text.replace(text.find("%s"), 2, folder);
  return text;
}

// The folders besides the program folder that no share reaches into (native paths): the
// thumbnail caches (ours, and the desktop's of the user's images), the converted views, the
// user's trash, and the runtime folder when it is the user's alone, as it must be (never a /tmp
// that all share).
std::vector<std::string> PrivateFolders() {
  std::vector<std::string> folders = {thumbs::TThumbnailCache::DefaultFolder(),
                                      thumbs::TViewCache::DefaultFolder(),
                                      thumbs::SharedThumbnailFolder(), HomeTrashPath()};
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat info {};
  if (runtime != nullptr && runtime[0] == '/' && stat(runtime, &info) == 0 &&
      S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 077) == 0) {
    folders.emplace_back(runtime);
  }
  return folders;
}

}  // namespace

TFormHideCore::TFormHideCore(std::string programFolder)
    : programFolderOverride_(std::move(programFolder)),
      addressSource_(FindLocalAddresses),
      executablePath_(vm::ExecutablePath()) {  // qualified: the member has the same name
  // Known from the start, so the page folder is found even before FormCreate has run.
  state_.SetProgramFolder(ResolvedProgramFolder());
  dav_ = std::make_unique<TDavServer>(state_.ProgramFolder());
}

TFormHideCore::~TFormHideCore() {
  // Never throws: a destructor must not end the process over a slow request.
  addressWatch_.reset();
  announcer_.reset();
  loginThrottle_.Stop();
  IdHTTPServer1.DeactivateForDestruction();
  AttachThumbnailSource(IdHTTPServer1, nullptr);
  for (const TOpener& opener : openers_) waitpid(opener.pid, nullptr, WNOHANG);
}

std::string TFormHideCore::ResolvedProgramFolder() const {
  if (!programFolderOverride_.empty()) return programFolderOverride_;
  return NativeToSystem(ProgramFolderOf(executablePath_));
}

void TFormHideCore::FormCreate() {
  state_.SetLocalAddress(ChooseLocalAddress("", addressSource_()));
  state_.SetProgramFolder(ResolvedProgramFolder());
  state_.SetPrivateFolders(PrivateFolders());
  // Without a settings file the port would be 80, which an ordinary user may not listen on. In
  // a folder that cannot be written the first start's port holds all the same, for this run;
  // FolderProblem tells the user.
  try {
    WriteFirstStartSettings(state_.ProgramFolder());
  } catch (const EFCreateError&) {
    unsaved_ = ReadStoredSettings(state_.ProgramFolder());
    unsaved_->Port = kFirstStartPort;
  }
  // The two lists exist with the state, empty; LoadSettings fills the shared-folder list.
  if (unsaved_) {
    ApplySettings(state_, *unsaved_);
  } else {
    LoadSettings(state_);
  }
  try {
    EnsureAutostartEntry(state_.Settings().AutoRun, executablePath_);
  } catch (const EFCreateError&) {  // the window's OK tries again when the box is ticked
  }
  if (!addressWatch_) {
    addressWatch_ = std::make_unique<TAddressWatch>([this] {
      if (FollowAddresses() && addressListener_) addressListener_();
    });
  }
  // Partial uploads given up while the program was not running take no more room; later ones
  // are looked for by the upload requests themselves.
  SweepPartialUploads(state_.ProgramFolder());

  IdHTTPServer1.CommonHeaders = kCommonHeaders;
  // The file-manager door answers its own methods under its own path.
  IdHTTPServer1.OnAnswerMethod = [this](std::string_view, std::string_view target) {
    return state_.Settings().WebDav && TDavServer::Handles(target);
  };
  IdHTTPServer1.OnClassifyPeer = [this](const std::string& address) {
    return StandingOf(state_, address);
  };
  IdHTTPServer1.OnAdmitBody = [this](TIdPeerThread* thread, const TIdHTTPRequestInfo& request) {
    return IdHTTPServer1AdmitBody(thread, request);
  };
  IdHTTPServer1.OnCreatePostStream = [this](TIdPeerThread* thread,
                                            std::unique_ptr<TStream>& stream) {
    IdHTTPServer1CreatePostStream(thread, stream);
  };
  IdHTTPServer1.OnCommandGet = [this](TIdPeerThread* thread, TIdHTTPRequestInfo& request,
                                      TIdHTTPResponseInfo& response) {
    IdHTTPServer1CommandGet(thread, request, response);
  };
  IdHTTPServer1.SetActive(false);
  if (!thumbnails_) {
    thumbnails_ = TThumbnailService::ForProgram(executablePath_);
    AttachThumbnailSource(IdHTTPServer1, thumbnails_);
  }
  loginThrottle_.Start();
  IdHTTPServer1.DefaultPort = state_.Settings().Port;
  Listen();
}

bool TFormHideCore::FollowAddresses() {
  std::lock_guard<std::mutex> lock(addressLock_);
  return state_.SetLocalAddress(ChooseLocalAddress(state_.LocalAddress(), addressSource_()));
}

TStoredSettings TFormHideCore::SettingsInForce() const {
  return unsaved_ ? *unsaved_ : ReadStoredSettings(state_.ProgramFolder());
}

void TFormHideCore::EnableAnnouncing() {
  if (announcer_) return;
  announcer_ = std::make_unique<
      TServiceAnnouncer>(ServiceName(), kServicePath, [this](const TAnnounceState& announced) {
    state_.SetNetworkName({NameStatusOf(announced.Status), announced.HostName, announced.Reason});
  });
}

void TFormHideCore::FollowListener() {
  if (!announcer_) return;
  if (IdHTTPServer1.Active()) {
    announcer_->Announce(IdHTTPServer1.BoundPort());
  } else {
    announcer_->Withdraw();
  }
}

void TFormHideCore::Listen() {
  try {
    IdHTTPServer1.SetActive(true);
    listenFailure_.reset();
  } catch (const std::exception& e) {
    listenFailure_ = ListenFailureOf(IdHTTPServer1.DefaultPort, e);
    throw EListenError(*listenFailure_);
  }
  FollowListener();
}

std::string TFormHideCore::NotServingReason() const {
  if (IdHTTPServer1.Active()) {
    // Every answer is written into the page folder first: without it, every request fails.
    const std::string pages = state_.ProgramFolder() + kPageFolder;
    if (CanCreateFileIn(SystemToNative(pages))) return "";
    return WithFolder(
        LocalMessage("フォルダ %s に書き込めないため、ブラウザにはページを返せません。",
                     "Folder %s cannot be written, so no page can be sent to "
                     "browsers."),
        pages);
  }
  if (listenFailure_) return listenFailure_->Reason();
  return LocalMessage("サーバーを開始していません。", "The server has not been started.");
}

std::string TFormHideCore::FolderProblem() const {
  const std::string folder = state_.ProgramFolder();
  // The page folder is told by NotServingReason, which the tip and the window show too.
  std::string problem;
  if (!CanCreateFileIn(SystemToNative(folder))) {
    problem +=
        WithFolder(LocalMessage("フォルダ %s に書き込めないため、設定を保存できず（変更は終了まで"
                                "有効です）、アップロードも受け取れません。Velmarind をインストール"
                                "するか、自分のフォルダにコピーしてから起動してください。",
                                "Folder %s cannot be written, so the settings cannot be saved "
                                "(changes hold until the program ends) and no upload can be "
                                "received. Install Velmarind, or copy it into a folder of your "
                                "own, and start it from there."),
                   folder);
  }
  return problem;
}

void TFormHideCore::StoreSettings(const TStoredSettings& edited) {
  const int autoRunBefore = state_.Settings().AutoRun;
  // Files that cannot be written keep nothing from applying: the reason is told afterwards.
  std::optional<TSettingsWrite> write;
  std::optional<EFCreateError> notSaved;
  try {
    write.emplace(state_.ProgramFolder(), edited);
  } catch (const EFCreateError& e) {
    notSaved = e;
  }
  const int oldPort = IdHTTPServer1.DefaultPort;
  const int servingPort = IdHTTPServer1.BoundPort();
  const bool wasServing = IdHTTPServer1.Active();
  const bool moving = edited.Port != oldPort;
  if (moving) {
    try {
      if (wasServing) {
        IdHTTPServer1.Rebind(edited.Port);  // on failure the old port goes on serving
      } else {
        IdHTTPServer1.DefaultPort = edited.Port;
        IdHTTPServer1.SetActive(true);
      }
    } catch (const std::exception& e) {
      IdHTTPServer1.DefaultPort = oldPort;
      const TListenFailure failure = ListenFailureOf(edited.Port, e);
      if (wasServing) throw EListenError(failure, servingPort);
      throw EListenError(failure);
    }
    listenFailure_.reset();
    FollowListener();
  }
  if (write) {
    try {
      write->Commit();
    } catch (const EFCreateError& e) {
      notSaved = e;
    }
  }
  if (!IdHTTPServer1.Active()) {
    // The port may have come free since: try again, and keep the reason when it has not.
    try {
      Listen();
    } catch (const EListenError&) {
    }
  }
  if (!notSaved) {
    unsaved_.reset();
    LoadSettings(state_);
  } else {
    unsaved_ = edited;
    ApplySettings(state_, edited);
  }
  FollowAutoRun(autoRunBefore, edited.AutoRun, executablePath_);
  if (notSaved) throw ESettingsNotSaved(*notSaved);
}

void TFormHideCore::FormClose() {
  // The listener and every running request end first, so no request writes a page file after
  // the clean-up or reads the list after it is released. This waits for every request without
  // a time limit, so the clean-up is never skipped over a request still writing its page.
  // Logins waiting for their turn are answered at once rather than waited for.
  addressWatch_.reset();
  loginThrottle_.Stop();
  IdHTTPServer1.DeactivateForDestruction();
  // Off the network with the listener: a browser that finds the name now finds nothing.
  announcer_.reset();
  DeletePageFiles(SystemToNative(state_.ProgramFolder() + kPageFolder));
  state_.ReleaseSharedFolders();
}

std::string TFormHideCore::WriteGoHomePage() {
  const std::string path = state_.ProgramFolder() + kPageFolder + kGoHomeFile;
  const std::string url = state_.Settings().BaseURL;
  MakeGoHomePage(url, path);
  return path;
}

bool TFormHideCore::URLU1Click() {
  return OpenWithDesktop(WriteGoHomePage(), state_.Settings().BaseURL);
}

bool TFormHideCore::OpenWithDesktop(const std::string& systemPath, const std::string& label) {
  std::string file = SystemToNative(systemPath);
  char* argv[] = {const_cast<char*>(kOpener), file.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, kOpener, nullptr, nullptr, argv, environ) != 0) return false;
  openers_.push_back({pid, label, std::chrono::steady_clock::now()});
  return true;
}

std::vector<std::string> TFormHideCore::ReapOpeners() {
  std::vector<std::string> failed;
  const auto now = std::chrono::steady_clock::now();
  std::erase_if(openers_, [&](const TOpener& opener) {
    int status = 0;
    const pid_t ended = waitpid(opener.pid, &status, WNOHANG);
    if (ended == 0) return false;
    const bool failedEarly = ended == opener.pid && now - opener.started < kOpenerFailureWindow &&
                             !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (failedEarly) failed.push_back(opener.label);
    return true;
  });
  return failed;
}

bool TFormHideCore::ForDav(const TIdHTTPRequestInfo& request) const {
  const std::string& line = request.RequestLine;
  const size_t first = line.find(' ');
  const size_t last = line.rfind(' ');
  if (first >= last) return false;
  return TDavServer::Handles(std::string_view(line).substr(first + 1, last - first - 1)) &&
         state_.Settings().WebDav;
}

TBodyAdmission TFormHideCore::IdHTTPServer1AdmitBody(TIdPeerThread* thread,
                                                     const TIdHTTPRequestInfo& request) {
  if (ForDav(request)) return dav_->AdmitBody(state_, request);
  const TBodyAdmission admission = AdmitBody(state_, request);
  // A long upload shows as what the client does now, not as its request before.
  state_.Clients().NoteRequest(request.RemoteIP, RequestSummary(request, ""));
  if (admission == TBodyAdmission::Keep && AnnouncesBody(request) && thread) {
    // Counted by the connection as the body arrives; ends with the request (CommandGet).
    thread->Connection()->SetTransferProgress(state_.Clients().BeginTransfer(
        request.RemoteIP, TTransferKind::Upload, "", request.ContentLength));
  }
  return admission;
}

void TFormHideCore::IdHTTPServer1CreatePostStream(TIdPeerThread*, std::unique_ptr<TStream>& stream) {
  stream = CreatePostStream(state_);
}

void TFormHideCore::IdHTTPServer1CommandGet(TIdPeerThread* thread, TIdHTTPRequestInfo& request,
                                            TIdHTTPResponseInfo& response) {
  TIdTCPConnection* connection = thread ? thread->Connection() : nullptr;
  // The transfer (an upload's body, a download's file) ends with the request, also when it
  // fails: the desktop shows only those still running.
  struct TTransferEnd {
    TIdTCPConnection* connection;
    ~TTransferEnd() {
      if (connection) connection->SetTransferProgress(nullptr);
    }
  } transferEnd{connection};
  const bool download =
      request.Command == "GET" && AnswerFor(request.Document) == TAnswer::Download;
  const std::string fileName = download ? DownloadName(request) : std::string();
  state_.Clients().NoteRequest(request.RemoteIP, RequestSummary(request, fileName));
  if (download && connection) {
    // The total comes when the file is opened (ServeOpenFile).
    connection->SetTransferProgress(
        state_.Clients().BeginTransfer(request.RemoteIP, TTransferKind::Download, fileName, -1));
  }
  if (ForDav(request)) {
    TDavCall call{state_, loginThrottle_, IdHTTPServer1, thread, request, response};
    dav_->Answer(call);
    return;
  }
  vm::IdHTTPServer1CommandGet(state_, loginThrottle_, IdHTTPServer1, thread, request, response);
}

}  // namespace vm
