#include "support/multipart.h"

namespace vmtest {

std::string Multipart(const std::vector<TFormPart>& parts, const std::string& boundary) {
  std::string body;
  for (const auto& [params, content] : parts) {
    body += "--" + boundary + "\r\nContent-Disposition: form-data; " + params + "\r\n";
    if (params.find("filename=") != std::string::npos) body += "Content-Type: image/png\r\n";
    body += "\r\n" + content + "\r\n";
  }
  return body + "--" + boundary + "--\r\n";
}

}  // namespace vmtest
