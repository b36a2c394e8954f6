// File download: the branch of the dispatcher for "download.html".
#pragma once

#include <string>
#include <string_view>

#include "http/response_info.h"
#include "platform/unique_fd.h"
#include "state/main_state.h"

namespace vm {

// A file ready to be served: opened, and checked to lie inside the shares.
struct TDownload {
  TUniqueFd File;    // what to send (TIdCustomHTTPServer::ServeOpenFile takes it over)
  std::string Path;  // the requested path (system text), for failure messages
};

// The Content-Disposition entry of CustomHeaders for an attachment whose name is systemName
// (raw after "filename=", but for the bytes that would cut the value short, which become "_")
// and nativeName (its name on disk, UTF-8, in the extended parameter when the raw form cannot
// carry the name exactly).
std::string AttachmentDispositionEntry(std::string_view systemName, std::string_view nativeName);

// Opens the file named by the "file" parameter when it is a regular file inside the shared
// folders, sets the response's content type and Content-Disposition line, and marks the
// response as accepting byte ranges. Throws EFOpenError with the path otherwise; the answer
// then depends only on the requested path, not on what is on disk outside the shares.
// The parameter "; filename*=UTF-8''" with the name percent-encoded (RFC 5987): the name as on
// disk reaches the browser whatever bytes it holds.
std::string ExtendedFileNameParameter(std::string_view nativeName);

TDownload PrepareDownload(const TStateSnapshot& state, const std::string& params,
                          TIdHTTPResponseInfo& response);

}  // namespace vm
