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

TServedCore::TServedCore(const std::vector<std::string>& shares, const std::string& moreSettings)
    : home_("XDG_CONFIG_HOME", config_.Path()) {
  const std::string pages = program_.MakeSubfolder("page");
  WriteFileBytes(pages + "vcom.css", ".sh1 {}\n");
  WriteFileBytes(pages + "vcom.js", "function exf() {}\n");
  WriteFileBytes(program_.Path() + "velmarind.ini", "[COMMON]\r\nHTTP_PORT=0\r\n" + moreSettings);
  std::string list;
  for (const std::string& share : shares) list += share + "\r\n";
  WriteFileBytes(program_.Path() + "dirlst.ini", list);
  core_ = std::make_unique<vm::TFormHideCore>(program_.Path());
  core_->Server().BindAddress = "127.0.0.1";
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
  return SplitAnswer(
      Exchange(method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n"));
}

std::string TServedCore::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(Port()) + "/velmarind/";
}

}  // namespace vmtest
