#include "web/download.h"

#include "web/text_helpers.h"

namespace vm {

std::string PrepareDownload(const TStateSnapshot&, const std::string& params,
                            TIdHTTPResponseInfo& response) {
  response.ContentType = "application/octet-stream";
  return HexDecode(GetParam(params, "file"));
}

}  // namespace vm
