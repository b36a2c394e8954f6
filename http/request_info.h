// The request record that the request loop fills for the application.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "http/header_list.h"
#include "platform/stream.h"

namespace vm {

// Date-time as days since 1899-12-30, the fraction being the time of day; 0 = not set.
using TDateTime = double;

class TIdEntityHeaderInfo {
 public:
  TIdEntityHeaderInfo() { RawHeaders.FoldLength = 1024; }
  virtual ~TIdEntityHeaderInfo() = default;

  std::string CacheControl;
  TIdHeaderList RawHeaders;
  std::string Connection;
  std::string ContentEncoding;
  std::string ContentLanguage;
  int64_t ContentLength = -1;  // 64-bit: bodies and files past 4 GiB
  int64_t ContentRangeEnd = 0;
  int64_t ContentRangeStart = 0;
  std::string ContentType;
  std::string ContentVersion;
  TIdHeaderList CustomHeaders;
  TDateTime Date = 0;
  TDateTime Expires = 0;
  TDateTime LastModified = 0;
  std::string Pragma;
  bool HasContentLength() const { return ContentLength >= 0; }
};

class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
 public:
  std::string Accept, AcceptCharSet, AcceptEncoding, AcceptLanguage;
  std::string From, Password, Referer, UserAgent, Username, Host;
  bool BasicAuthentication = false;
  std::string ProxyConnection;
};

class TIdHTTPRequestInfo : public TIdRequestHeaderInfo {
 public:
  bool HasAuthorization = false;
  std::vector<std::string> Cookies;
  std::vector<std::string> Params;  // decoded name=value lines, in order, duplicates kept
  std::unique_ptr<TStream> PostStream;
  std::string RequestLine;
  std::string RemoteIP;
  std::string Document;
  std::string Command;  // "GET", "POST" or "HEAD"
  std::string Version;
  std::string AuthUsername, AuthPassword;
  std::string RawParams;
  std::string QueryString;
  std::string FormText;
  // The body still waits on the connection, for the application to read (TIdBodyReader).
  bool BodyOnConnection = false;
};

}  // namespace vm
