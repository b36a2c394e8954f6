// The body parser on arbitrary bodies, with a real program folder and two shared folders, so
// that uploads and new texts are saved. What an input writes is removed before the next one.
//
// Besides the sanitizers' findings, an input fails when the parser leaves anything outside the
// shared folders and "pastdata.txt", leaves a temporary file behind, keeps anything but the
// body in "pastdata.txt" (or keeps it for a body that saved nothing), or saves an upload under
// a name that is not an upload's.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/stream.h"
#include "platform/text_helpers.h"
#include "web/post_body.h"

namespace {

struct TFolders {
  std::string root, program, share, other;
};

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

std::string FileBytes(const std::string& path) {
  std::string bytes;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "(missing)";
  char block[4096];
  for (ssize_t n; (n = read(fd, block, sizeof block)) > 0;) bytes.append(block, n);
  close(fd);
  return bytes;
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "broken invariant: %s\n", what.c_str());
  std::abort();
}

// Removes what the last input saved into a shared folder. A parser that made a folder in a
// shared folder would have written beyond what a body may do: that fails the input.
void EmptyShare(const std::string& folder) {
  for (const std::string& name : Entries(folder)) {
    if (unlink((folder + name).c_str()) != 0) Fail("cannot remove " + folder + name);
  }
}

void RemoveAll(const TFolders& folders) {
  EmptyShare(folders.share);
  EmptyShare(folders.other);
  unlink((folders.program + "pastdata.txt").c_str());
  rmdir(folders.share.c_str());
  rmdir(folders.other.c_str());
  rmdir(folders.program.c_str());
  rmdir(folders.root.c_str());
}

const TFolders& Folders() {
  static const TFolders folders = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") +
                          "/velmarind-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    TFolders made;
    made.root = pattern + "/";
    made.program = made.root + "program/";
    made.share = made.root + "share/";
    made.other = made.root + "other";  // typed by hand, without the final "/"
    for (const std::string* folder : {&made.program, &made.share, &made.other}) {
      if (mkdir(folder->c_str(), 0700) != 0) std::abort();
    }
    made.other += "/";
    return made;
  }();
  return folders;
}

void RemoveFoldersAtExit() { RemoveAll(Folders()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Folders();
  std::atexit(RemoveFoldersAtExit);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const TFolders& folders = Folders();
  vm::TStateSnapshot state;
  state.ProgramFolder = folders.program;
  // "Data1" is the folder the captured bodies name (hex 4461746131).
  state.SharedFolders = std::make_shared<const vm::TSharedFolderList>(vm::TSharedFolderList{
      "Data1;;" + folders.share,
      "Other;;" + folders.other.substr(0, folders.other.size() - 1)});

  vm::TMemoryStream body(std::string(reinterpret_cast<const char*>(data), size));
  vm::TPostOutcome outcome;
  const std::string result = vm::ParsePostBody(state, body, outcome);
  // The dispatcher decodes the result once more and reads its fields.
  const std::string params = vm::PercentDecoded(result);
  vm::HexDecode(vm::GetParam(params, "ifile"));

  for (const std::string& name : Entries(folders.root)) {
    if (name != "program" && name != "share" && name != "other") Fail("written beside the folders: " + name);
  }
  for (const std::string& name : Entries(folders.program)) {
    if (name != "pastdata.txt") Fail("written into the program folder: " + name);
  }
  // Only a body that saved something is kept, and then as it came.
  const bool pastData = !Entries(folders.program).empty();
  if (pastData != !outcome.SavedNames.empty())
    Fail(pastData ? "pastdata.txt kept for a body that saved nothing" : "pastdata.txt not kept");
  if (pastData && FileBytes(folders.program + "pastdata.txt") != body.Data())
    Fail("pastdata.txt is not the body");
  // A new text is one file of the name the client chose; uploads are saved under the upload
  // prefix only. Anything else (a temporary file left behind, say) breaks the rule.
  std::string lower = body.Data();
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  // Inside a multipart body (its first line a delimiter) the marker is only some part's content.
  const size_t lineEnd = lower.find("\r\n");
  const bool multipart = lineEnd != std::string::npos && lineEnd >= 2 && lower.rfind("--", 0) == 0;
  const bool newText = !multipart && lower.find("menu=newtext") != std::string::npos;
  std::vector<std::string> saved = Entries(folders.share);
  for (const std::string& name : Entries(folders.other)) saved.push_back(name);
  if (newText && saved.size() > 1) Fail("a new text wrote " + std::to_string(saved.size()) + " files");
  for (const std::string& name : saved) {
    if (!newText && name.rfind("__vupd_img_", 0) != 0) Fail("upload saved as " + name);
  }
  EmptyShare(folders.share);
  EmptyShare(folders.other);
  unlink((folders.program + "pastdata.txt").c_str());
  return 0;
}
