#include "support/page_lines.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vmtest {

namespace fs = std::filesystem;

TTempFolder::TTempFolder() {
  std::string pattern = "/tmp/velmarind-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

TTempFolder::~TTempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TTempFolder::MakeSubfolder(const std::string& name) const {
  fs::create_directories(path_ + name);
  return path_ + name + "/";
}

std::vector<std::string> TTempFolder::List(const std::string& sub) const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path_ + sub)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TOtherDiskFolder::TOtherDiskFolder() {
  struct stat shm {
  }, tmp{};
  if (stat("/dev/shm", &shm) != 0 || stat("/tmp", &tmp) != 0 || shm.st_dev == tmp.st_dev) return;
  std::string pattern = "/dev/shm/velmarind-test-XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
}

TOtherDiskFolder::~TOtherDiskFolder() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove_all(path_, ignored);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool FileExists(const std::string& path) { return fs::exists(path); }

unsigned PermissionsOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::vector<std::string> SplitCrLf(std::string_view bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(bytes.substr(start));
      break;
    }
    lines.emplace_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

bool IsStamp(std::string_view text) {
  return text.size() == 15 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string StampAfter(std::string_view text, std::string_view marker) {
  const size_t at = text.find(marker);
  if (at == std::string_view::npos) return "";
  return std::string(text.substr(at + marker.size(), 15));
}

}  // namespace vmtest
