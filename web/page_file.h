// Page files: a generator's lines, each followed by CR LF, written whole into the page folder.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace vm {

// Writes the lines (CR LF after each, no byte-order mark) to path, atomically: a unique
// temporary file beside it is renamed over it, so a concurrent reader sees a complete page.
// Throws EFCreateError with path when the file cannot be created or written.
// Returns the bytes, which are what the request is answered with: another request from the
// same address may replace the file before it could be read back.
std::string WritePageFile(const std::string& path, const std::vector<std::string>& lines);
// The same for a page already joined: content holds the lines with their CR LF.
std::string WritePageText(const std::string& path, std::string content);

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
