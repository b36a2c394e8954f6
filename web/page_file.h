// Page files: a generator's lines, each followed by CR LF, written whole into the page folder.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace vm {

// Page files are the owner's alone: they show one client's folders and names to nobody else.
inline constexpr unsigned kPageFileMode = 0600;

// Writes the lines (CR LF after each, no byte-order mark) to path, atomically: a unique
// temporary file beside it is renamed over it, so a concurrent reader sees a complete page.
// Throws EFCreateError with path when the file cannot be created or written.
// Returns the bytes, which are what the request is answered with: another request from the
// same address may replace the file before it could be read back.
std::string WritePageFile(const std::string& path, const std::vector<std::string>& lines);
// The same for a page already joined: content holds the lines with their CR LF.
std::string WritePageText(const std::string& path, std::string content);

// A page written as it is made, for pages that may be larger than is worth holding (a listing
// of a huge folder): its bytes go into a new file beside the page, which Commit renames into
// place and hands back open, so that the request is answered with exactly the bytes written
// even when another request replaces the page meanwhile. Not committed, the new file goes.
// Throws EFCreateError with the page's path when the file cannot be created or written.
class TPageFileWriter {
 public:
  explicit TPageFileWriter(const std::string& path);
  ~TPageFileWriter();
  TPageFileWriter(const TPageFileWriter&) = delete;
  TPageFileWriter& operator=(const TPageFileWriter&) = delete;

  void Append(std::string_view bytes);
  // The page in place, open for reading from its start.
  TUniqueFd Commit();

 private:
  void Flush();

  std::string path_;       // the page, system text
  std::string temporary_;  // the new file, native; empty once renamed
  TUniqueFd file_;
  std::string pending_;  // bytes not yet written
};

// True for the name of a temporary file WritePageFile makes beside a page ("<page>.html."
// and the six letters or digits mkstemp chose): a process that dies mid-write leaves it behind.
bool IsPageFileTemporaryName(std::string_view name);

// Page file path: programFolder + "page/" + kind + "_" + address + ".html".
std::string PageFilePath(const std::string& programFolder, const std::string& kind,
                         const std::string& address);

// Request stamp "yymmddhhnnsszzz" from the local clock.
std::string RequestStamp();
// The stamp of a given moment, in local time.
std::string RequestStampAt(std::chrono::system_clock::time_point moment);

}  // namespace vm
