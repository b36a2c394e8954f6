#include "support/served_core.h"

#include <gtest/gtest.h>

#include "platform/sjis.h"
#include "support/loopback_client.h"

namespace vmtest {

std::string THttpAnswer::Header(const std::string& name) const {
  for (const std::string& line : headers) {
    const size_t colon = line.find(':');
    if (colon != std::string::npos && vm::EqualTextIgnoreCase(line.substr(0, colon), name)) {
      return std::string(vm::TrimView(std::string_view(line).substr(colon + 1)));
    }
  }
  return "";
}

THttpAnswer SplitAnswer(const std::string& raw) {
  THttpAnswer answer;
  const size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) {
    answer.statusLine = raw;
    return answer;
  }
  std::vector<std::string> lines = SplitCrLf(std::string_view(raw).substr(0, end + 2));
  if (!lines.empty()) {
    answer.statusLine = lines.front();
    answer.headers.assign(lines.begin() + 1, lines.end());
  }
  answer.body = raw.substr(end + 4);
  return answer;
}

std::string Request(const std::string& method, const std::string& target,
                    const std::string& extraHeaders, const std::string& body) {
  std::string head = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders;
  if (!body.empty()) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return head + "\r\n" + body;
}

TServedCore::TServedCore(const std::vector<std::string>& shares, const std::string& moreSettings,
                         const TPrepare& prepare) {
  folder_.WriteSettings("[COMMON]\r\nHTTP_PORT=0\r\n" + moreSettings);
  folder_.WriteShares(shares);
  core_ = std::make_unique<vm::TFormHideCore>(folder_.Path());
  core_->Server().BindAddress = "127.0.0.1";
  if (prepare) prepare(core_->Server());
  core_->FormCreate();
}

TServedCore::~TServedCore() {
  core_->FormClose();
  core_.reset();
}

int TServedCore::Port() const { return core_->Server().BoundPort(); }

std::string TServedCore::Exchange(const std::string& request,
                                  const std::string& sourceAddress) const {
  return vm::testing::Exchange(Port(), request, sourceAddress);
}

THttpAnswer TServedCore::Get(const std::string& target, const std::string& extraHeaders,
                             const std::string& method) const {
  return SplitAnswer(Exchange(Request(method, target, extraHeaders)));
}

std::string TServedCore::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(Port()) + "/velmarind/";
}

}  // namespace vmtest
