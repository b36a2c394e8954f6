#include "server/form_hide_core.h"

#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

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
  for (int pid : openers_) waitpid(pid, nullptr, WNOHANG);
}

std::string TFormHideCore::ResolvedProgramFolder() const {
  if (!programFolderOverride_.empty()) return programFolderOverride_;
  return NativeToSystem(ProgramFolderOf(executablePath_));
}

void TFormHideCore::FormCreate() {
  state_.SetLocalAddress(FindLocalAddress());
  state_.SetProgramFolder(ResolvedProgramFolder());
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
  loginThrottle_.Start();
  IdHTTPServer1.DefaultPort = state_.Settings().Port;
  IdHTTPServer1.SetActive(true);
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

void TFormHideCore::URLU1Click() {
  // Openers that have finished since the last click are reaped here rather than waited for.
  std::erase_if(openers_, [](int pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });

  std::string file = SystemToNative(WriteGoHomePage());
  char* argv[] = {const_cast<char*>(kOpener), file.data(), nullptr};
  pid_t pid = 0;
  // Without xdg-open the spawn fails and nothing happens, as nothing is reported either way.
  if (posix_spawnp(&pid, kOpener, nullptr, nullptr, argv, environ) == 0) openers_.push_back(pid);
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
