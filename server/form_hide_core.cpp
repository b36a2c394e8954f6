#include "server/form_hide_core.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string_view>

#include "platform/exception.h"
#include "platform/fs_names.h"
#include "platform/sjis.h"
#include "platform/system_info.h"
#include "state/config_store.h"
#include "web/body_admission.h"
#include "web/dispatcher.h"
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

std::string WithFolder(const std::string& pattern, const std::string& folder) {
  std::string text = Sjis(pattern);
  text.replace(text.find("%s"), 2, folder);
  return text;
}

}  // namespace

TFormHideCore::TFormHideCore(std::string programFolder)
    : programFolderOverride_(std::move(programFolder)),
      executablePath_(vm::ExecutablePath()) {  // qualified: the member has the same name
  // Known from the start, so the page folder is found even before FormCreate has run.
  state_.SetProgramFolder(ResolvedProgramFolder());
}

TFormHideCore::~TFormHideCore() {
  // Never throws: a destructor must not end the process over a slow request.
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
  state_.SetLocalAddress(FindLocalAddress());
  state_.SetProgramFolder(ResolvedProgramFolder());
  // Without a settings file the port would be 80, which an ordinary user may not listen on. A
  // folder that cannot be written keeps the defaults; FolderProblem tells the user.
  try {
    WriteFirstStartSettings(state_.ProgramFolder());
  } catch (const EFCreateError&) {
  }
  // The two lists exist with the state, empty; LoadSettings fills the shared-folder list.
  LoadSettings(state_);

  IdHTTPServer1.CommonHeaders = kCommonHeaders;
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

void TFormHideCore::Listen() {
  try {
    IdHTTPServer1.SetActive(true);
    listenFailure_.reset();
  } catch (const std::exception& e) {
    listenFailure_ = ListenFailureOf(IdHTTPServer1.DefaultPort, e);
    throw EListenError(*listenFailure_);
  }
}

std::string TFormHideCore::NotServingReason() const {
  if (IdHTTPServer1.Active()) return "";
  if (listenFailure_) return listenFailure_->Reason();
  return Sjis("サーバーを開始していません。");
}

std::string TFormHideCore::FolderProblem() const {
  const std::string folder = state_.ProgramFolder();
  std::string problem;
  if (!CanCreateFileIn(SystemToNative(folder + kPageFolder))) {
    problem += WithFolder("フォルダ %s に書き込めないため、ブラウザにはページを返せません。",
                          folder + kPageFolder);
  }
  if (!CanCreateFileIn(SystemToNative(folder))) {
    if (!problem.empty()) problem += "\n";
    problem += WithFolder(
        "フォルダ %s に書き込めないため、設定を保存できず、アップロードも"
        "受け取れません。",
        folder);
  }
  return problem;
}

void TFormHideCore::StoreSettings(const TStoredSettings& edited) {
  TSettingsWrite write(state_.ProgramFolder(), edited);  // throws: nothing written
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
  }
  try {
    write.Commit();
  } catch (...) {
    // Nothing saved: the listener goes back to where it was.
    if (moving) {
      try {
        if (wasServing) {
          IdHTTPServer1.Rebind(oldPort);
        } else {
          IdHTTPServer1.SetActive(false);
          IdHTTPServer1.DefaultPort = oldPort;
        }
      } catch (const std::exception&) {
      }
    }
    throw;
  }
  if (!IdHTTPServer1.Active()) {
    // The port may have come free since: try again, and keep the reason when it has not.
    try {
      Listen();
    } catch (const EListenError&) {
    }
  }
  LoadSettings(state_);
}

void TFormHideCore::FormClose() {
  // The listener and every running request end first, so no request writes a page file after
  // the clean-up or reads the list after it is released. This waits for every request without
  // a time limit, so the clean-up is never skipped over a request still writing its page.
  // Logins waiting for their turn are answered at once rather than waited for.
  loginThrottle_.Stop();
  IdHTTPServer1.DeactivateForDestruction();
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

TBodyAdmission TFormHideCore::IdHTTPServer1AdmitBody(TIdPeerThread*,
                                                     const TIdHTTPRequestInfo& request) {
  return AdmitBody(state_, request);
}

void TFormHideCore::IdHTTPServer1CreatePostStream(TIdPeerThread*, std::unique_ptr<TStream>& stream) {
  stream = CreatePostStream(state_.ProgramFolder());
}

void TFormHideCore::IdHTTPServer1CommandGet(TIdPeerThread* thread, TIdHTTPRequestInfo& request,
                                            TIdHTTPResponseInfo& response) {
  vm::IdHTTPServer1CommandGet(state_, loginThrottle_, IdHTTPServer1, thread, request, response);
}

}  // namespace vm
