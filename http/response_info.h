// The response record: what the application answers, and how it goes on the wire.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "http/request_info.h"

namespace vm {

class TIdTCPConnection;

class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
 public:
  std::string Location;
  std::string Server;
  std::string ProxyConnection;
  TIdHeaderList ProxyAuthenticate;
  TIdHeaderList WWWAuthenticate;
};

class TIdHTTPResponseInfo : public TIdResponseHeaderInfo {
 public:
  // connection may be null for a record that is never sent (tests of the application).
  explicit TIdHTTPResponseInfo(TIdTCPConnection* connection);
  ~TIdHTTPResponseInfo() override;

  std::string AuthRealm;
  std::vector<std::string> Cookies;  // header forms, written as "Set-Cookie: " lines
  std::unique_ptr<TStream> ContentStream;
  std::string ContentText;
  bool FreeContentStream = true;
  std::string ResponseText = "OK";

  TIdTCPConnection* Connection() const { return connection_; }
  int ResponseCode() const { return responseCode_; }
  // Also sets ResponseText from the reason phrase table; 404 also closes the connection.
  void SetResponseCode(int code);
  bool CloseConnection() const { return closeConnection_; }
  // Also sets the Connection field to "close" or "keep-alive".
  void SetCloseConnection(bool close);
  bool HeaderWritten() const { return headerWritten_; }
  // Set by the request loop for HEAD: status line and headers are sent, body bytes are not.
  bool HeadOnly = false;
  // Set by the application for answers that may be partial (downloads): ServeFile then says
  // "Accept-Ranges: bytes" and answers the byte range asked for in RequestedRange.
  bool AcceptRanges = false;
  // The request's Range value ("" when none), handed over by the application.
  std::string RequestedRange;

  // Sends the status line and the headers, once.
  void WriteHeader();
  // Sends the body (and the header first when needed).
  void WriteContent();

 private:
  // WriteHeader's work up to the send: the status line and the header lines are left in the
  // connection's open write buffer. False (and nothing collected) without a connection.
  bool CollectHeader();

  TIdTCPConnection* connection_;
  int responseCode_ = 200;
  bool closeConnection_ = false;
  bool headerWritten_ = false;
};

// Reason phrase of a status code ("Unknown Response Code" for codes outside the table).
const char* ReasonPhrase(int code);

}  // namespace vm
