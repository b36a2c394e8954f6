// File download: the branch of the dispatcher for "download.html".
#pragma once

#include <string>

#include "http/response_info.h"
#include "state/main_state.h"

namespace vm {

// Sets the response's content type and Content-Disposition line for the file named by the "file"
// parameter, marks the response as accepting byte ranges, and returns the path to serve (system
// text). Throws EFOpenError for a path outside the shared folders or not a file.
std::string PrepareDownload(const TStateSnapshot& state, const std::string& params,
                            TIdHTTPResponseInfo& response);

}  // namespace vm
