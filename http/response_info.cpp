#include "http/response_info.h"

#include <string>

#include "http/engine_errors.h"
#include "http/http_date.h"
#include "http/tcp_connection.h"

namespace vm {

namespace {

constexpr const char* kDefaultContentType = "text/html";
constexpr const char* kDefaultServer = "Velmarind/1.0";

struct ReasonRow {
  int code;
  const char* text;
};

constexpr ReasonRow kReasonPhrases[] = {
    {100, "Continue"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {301, "Moved Permanently"},
    {302, "Moved Temporarily"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method not allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity To Long"},
    {414, "Request-URI Too Long. 256 Chars max"},
    {415, "Unsupported Media Type"},
    {416, "Requested Range Not Satisfiable"},  // byte ranges of downloads
    {429, "Too Many Requests"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway timeout"},
    {505, "HTTP version not supported"},
};

std::string DefaultBody(int code, const std::string& text) {
  return "<HTML><BODY><B>" + std::to_string(code) + " " + text + "</B></BODY></HTML>";
}

}  // namespace

const char* ReasonPhrase(int code) {
  for (const ReasonRow& row : kReasonPhrases) {
    if (row.code == code) return row.text;
  }
  return "Unknown Response Code";
}

TIdHTTPResponseInfo::TIdHTTPResponseInfo(TIdTCPConnection* connection)
    : connection_(connection) {
  ContentType = kDefaultContentType;
  Server = kDefaultServer;
  RawHeaders.FoldLines = false;  // a response's header lines go out as they are built
}

TIdHTTPResponseInfo::~TIdHTTPResponseInfo() {
  // Not ours to free: the application keeps the stream.
  if (!FreeContentStream) (void)ContentStream.release();
}

void TIdHTTPResponseInfo::SetResponseCode(int code) {
  responseCode_ = code;
  ResponseText = ReasonPhrase(code);
  if (code == 404) SetCloseConnection(true);
}

void TIdHTTPResponseInfo::SetCloseConnection(bool close) {
  closeConnection_ = close;
  TIdEntityHeaderInfo::Connection = close ? "close" : "keep-alive";
}

void TIdHTTPResponseInfo::WriteHeader() {
  // A body comes next: the header waits for its first bytes, so a small page is one segment.
  if (CollectHeader()) connection_->CloseWriteBuffer(!HeadOnly && ContentLength > 0);
}

bool TIdHTTPResponseInfo::CollectHeader() {
  if (headerWritten_) throw EIdHTTPHeaderAlreadyWritten();
  headerWritten_ = true;
  if (ContentLength == -1) {
    if (!ContentText.empty()) {
      ContentLength = static_cast<int64_t>(ContentText.size());
    } else if (ContentStream) {
      ContentLength = ContentStream->Size();
    }
  }

  RawHeaders.Clear();
  auto addIfSet = [this](const char* name, const std::string& value) {
    if (!value.empty()) RawHeaders.Add(std::string(name) + ": " + value);
  };
  addIfSet("Connection", TIdEntityHeaderInfo::Connection);
  addIfSet("Content-Version", ContentVersion);
  addIfSet("Content-Encoding", ContentEncoding);
  addIfSet("Content-Language", ContentLanguage);
  addIfSet("Content-Type", ContentType);
  if (ContentLength >= 0) addIfSet("Content-Length", std::to_string(ContentLength));
  addIfSet("Cache-control", CacheControl);
  if (Date > 0) addIfSet("Date", DateTimeToInternetStr(Date));
  if (Expires > 0) addIfSet("Expires", DateTimeToInternetStr(Expires));
  if (LastModified > 0) addIfSet("Last-Modified", DateTimeGMTToHttpStr(LastModified));
  addIfSet("Pragma", Pragma);
  for (const std::string& line : CustomHeaders.Lines()) RawHeaders.Add(line);

  // Set by name: replaces a line of that name that the handler put among its custom headers.
  // (Content-Type, Content-Length and Last-Modified need no such step: when set, their own
  // line above is the first of that name, so setting it again would rewrite it unchanged.)
  if (!Server.empty()) RawHeaders.SetValue("Server", Server);
  if (!Location.empty()) RawHeaders.SetValue("Location", Location);

  if (!AuthRealm.empty()) {
    SetResponseCode(401);
    RawHeaders.SetValue("WWW-Authenticate", "Basic realm=\"" + AuthRealm + "\"");
    if (ContentLength == -1) {
      ContentText = DefaultBody(responseCode_, "Unauthorized");
      ContentLength = static_cast<int64_t>(ContentText.size());
    }
  }

  if (connection_ == nullptr) return false;
  // The status line and the headers leave in one send.
  connection_->OpenWriteBuffer();
  try {
    connection_->WriteLn("HTTP/1.1 " + std::to_string(responseCode_) + " " + ResponseText);
    for (const std::string& line : RawHeaders.Lines()) connection_->WriteLn(line);
    for (const std::string& cookie : Cookies) connection_->WriteLn("Set-Cookie: " + cookie);
    connection_->WriteLn("");
  } catch (...) {
    connection_->CloseWriteBuffer();
    throw;
  }
  return true;
}

void TIdHTTPResponseInfo::WriteContent() {
  bool textSent = false;
  if (!headerWritten_ && CollectHeader()) {
    if (!HeadOnly && !ContentText.empty()) {
      // The header and a text body (a generated page) leave in one send.
      connection_->CloseWriteBuffer(ContentText);
      textSent = true;
    } else {
      connection_->CloseWriteBuffer(!HeadOnly && ContentLength > 0);
    }
  }
  // A HEAD answer carries the headers of the GET answer and no body bytes.
  if (connection_ != nullptr && !HeadOnly && !textSent) {
    if (!ContentText.empty()) {
      connection_->Write(ContentText);
    } else if (ContentStream) {
      connection_->WriteStream(*ContentStream);
    } else {
      connection_->WriteLn(DefaultBody(responseCode_, ResponseText));
    }
  }
  ContentText.clear();
  if (!FreeContentStream) (void)ContentStream.release();
  ContentStream.reset();
}

}  // namespace vm
