#include "web/login_page_files.h"

#include <unistd.h>

#include <list>
#include <mutex>
#include <unordered_map>

#include "platform/fs_names.h"

namespace vm {

namespace {

// The login page files noted in one page folder, the oldest first, and where each one stands.
struct TFolderPages {
  std::list<std::string> order;
  std::unordered_map<std::string, std::list<std::string>::iterator> places;
};

struct TLoginPages {
  std::mutex mutex;
  std::unordered_map<std::string, TFolderPages> folders;  // guarded by mutex
};

TLoginPages& LoginPages() {
  static TLoginPages pages;
  return pages;
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

}  // namespace

void NoteLoginPageFile(const std::string& pageFile) {
  TLoginPages& pages = LoginPages();
  const std::lock_guard<std::mutex> lock(pages.mutex);
  TFolderPages& folder = pages.folders[FolderOf(pageFile)];
  const auto found = folder.places.find(pageFile);
  if (found != folder.places.end()) {
    folder.order.splice(folder.order.end(), folder.order, found->second);
    return;
  }
  folder.places.emplace(pageFile, folder.order.insert(folder.order.end(), pageFile));
  while (folder.order.size() > kMaxLoginPageFiles) {
    // Its client gets a new one with its next request; nothing refers to the old one.
    ::unlink(SystemToNative(folder.order.front()).c_str());
    folder.places.erase(folder.order.front());
    folder.order.pop_front();
  }
}

void ForgetLoginPageFile(const std::string& pageFile) {
  TLoginPages& pages = LoginPages();
  const std::lock_guard<std::mutex> lock(pages.mutex);
  const auto folder = pages.folders.find(FolderOf(pageFile));
  if (folder == pages.folders.end()) return;
  const auto found = folder->second.places.find(pageFile);
  if (found == folder->second.places.end()) return;
  folder->second.order.erase(found->second);
  folder->second.places.erase(found);
}

}  // namespace vm
