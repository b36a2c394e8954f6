#include "http/http_server.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>

#include "http/byte_range.h"
#include "http/engine_errors.h"
#include "http/http_date.h"
#include "http/request_head.h"
#include "http/tcp_connection.h"
#include "http/url_decode.h"
#include "platform/fs_names.h"
#include "platform/sjis.h"

namespace vm {

namespace {

// A request whose body held this much gives the freed memory back when it ends (malloc keeps
// freed blocks of this size in its arenas). Smaller bodies are not worth the walk of the arenas.
constexpr int64_t kTrimAfterBodyBytes = int64_t{1} << 20;
// An "Expires" given in seconds is clamped to this many seconds (about 300 years) each way.
constexpr int64_t kMaxExpiresSeconds = int64_t{10'000'000'000};
constexpr double kSecondsPerDay = 86400.0;

// A whole (trimmed) decimal integer with an optional sign; false for anything else.
bool ParseInteger(std::string_view text, int64_t& value) {
  std::string_view digits = TrimView(text);
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty()) return false;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return error == std::errc() && end == digits.data() + digits.size();
}

int64_t IntegerOrZero(std::string_view text) {
  int64_t value = 0;
  return ParseInteger(text, value) ? value : 0;
}

// The whole head must arrive within one idle limit, not merely a byte per idle limit: a client
// dribbling a byte now and then would otherwise hold its connection for hours. A body that is
// only dropped has the same deadline of its own: nobody waits for it.
class TReadDeadline {
 public:
  explicit TReadDeadline(TIdTCPConnection& connection) : connection_(connection) {
    if (connection_.ReadTimeout > 0) {
      connection_.SetReadDeadline(std::chrono::steady_clock::now() +
                                  std::chrono::milliseconds(connection_.ReadTimeout));
    }
  }
  // The head is complete (or failed): a body that is kept has only the idle limit.
  ~TReadDeadline() { connection_.ClearReadDeadline(); }
  TReadDeadline(const TReadDeadline&) = delete;
  TReadDeadline& operator=(const TReadDeadline&) = delete;

 private:
  TIdTCPConnection& connection_;
};

// Receives until the input buffer begins with a whole head; throws what a line read would.
void ReadHead(TIdTCPConnection& connection, TRequestHeadParser& parser) {
  TReadDeadline deadline(connection);
  for (;;) {
    switch (parser.Parse(connection.InputBuffer())) {
      case THeadStatus::Complete:
        return;
      case THeadStatus::NeedMore:
        if (!connection.ReceiveMore()) throw EIdConnClosedGracefully();
        break;
      case THeadStatus::Malformed:
        switch (parser.Fault()) {
          case THeadFault::RequestLineWithoutSpace:
            throw EIdHTTPErrorParsingCommand();
          case THeadFault::HeadTooLarge:
            throw EIdHTTPHeadTooLarge();
          case THeadFault::LineTooLong:
          case THeadFault::None:
            throw EIdMaxLineLengthExceeded();
        }
    }
  }
}

void FillRange(TIdHTTPRequestInfo& request, const std::string& range) {
  const size_t equals = range.find('=');
  const std::string bounds = equals == std::string::npos ? std::string() : range.substr(equals + 1);
  const size_t dash = bounds.find('-');
  request.ContentRangeStart = IntegerOrZero(bounds.substr(0, dash));
  if (dash == std::string::npos) return;
  std::string end = bounds.substr(dash + 1);
  request.ContentRangeEnd = IntegerOrZero(end.substr(0, end.find(' ')));
}

// "Expires" as seconds from now, or as an HTTP date. Any integer is accepted: a value far in
// the future or past must not fail the request.
TDateTime ParseExpires(const std::string& value) {
  int64_t seconds = 0;
  if (ParseInteger(value, seconds) && seconds != -1) {
    seconds = std::clamp(seconds, -kMaxExpiresSeconds, kMaxExpiresSeconds);
    return NowLocal() + static_cast<double>(seconds) / kSecondsPerDay;
  }
  return GMTToLocalDateTime(value);
}

void FillHeaderFields(TIdHTTPRequestInfo& request) {
  const TIdHeaderList& headers = request.RawHeaders;
  request.Accept = headers.Values("Accept");
  request.AcceptCharSet = headers.Values("Accept-Charset");
  request.AcceptEncoding = headers.Values("Accept-Encoding");
  request.AcceptLanguage = headers.Values("Accept-Language");
  request.Host = headers.Values("Host");
  request.From = headers.Values("From");
  request.Referer = headers.Values("Referer");
  request.UserAgent = headers.Values("User-Agent");
  const std::string range = headers.Values("Range");
  if (!range.empty()) FillRange(request, range);
  request.Connection = headers.Values("Connection");
  request.ContentVersion = headers.Values("Content-Version");
  request.ContentEncoding = headers.Values("Content-Encoding");
  request.ContentLanguage = headers.Values("Content-Language");
  request.ContentType = headers.Values("Content-Type");
  int64_t length = -1;
  if (!ParseInteger(headers.Values("Content-Length"), length)) length = -1;
  request.ContentLength = length;
  // An unreadable date reads as 0: no reason to refuse the request.
  request.Date = GMTToLocalDateTime(headers.Values("Date"));
  request.LastModified = GMTToLocalDateTime(headers.Values("Last-Modified"));
  request.Expires = ParseExpires(headers.Values("Expires"));
  request.Pragma = headers.Values("Pragma");
}

// True for the header value "100-continue" in any letter case (the value comes trimmed).
bool IsContinueExpected(const std::string& expect) {
  return EqualTextIgnoreCase(expect, "100-continue");
}

// True when the head announces a body: a length above 0, or a POST without one (it runs until
// the client closes).
bool AnnouncesBody(const TIdHTTPRequestInfo& request) {
  return request.ContentLength > 0 || (request.Command == "POST" && !request.HasContentLength());
}

// Reads the body into the post stream. The stream grows with the bytes that arrive, never
// with the announced length: a client announcing much and sending nothing holds nothing.
void ReadBody(TIdTCPConnection& connection, TIdHTTPRequestInfo& request) {
  TStream& stream = *request.PostStream;
  if (request.ContentLength > 0) {
    // A client that asks first (curl does for bodies over 1 MiB) would otherwise wait a second
    // before sending; the answer is the interim status, the final one follows as usual.
    if (IsContinueExpected(request.RawHeaders.Values("Expect")))
      connection.Write("HTTP/1.1 100 Continue\r\n\r\n");
    connection.ReadStream(stream, request.ContentLength);
    if (stream.Size() > stream.Position()) stream.SetSize(stream.Position());
  } else if (request.Command == "POST" && !request.HasContentLength()) {
    connection.ReadStreamUntilClose(stream);
  }
}

// Frees the request record as the request ends. After a large body the freed memory goes back
// to the system at once, so that a burst of uploads does not leave the process large for good.
class TRequestRelease {
 public:
  explicit TRequestRelease(std::unique_ptr<TIdHTTPRequestInfo>& record) : record_(record) {}
  ~TRequestRelease() {
    const TIdHTTPRequestInfo& request = *record_;
    const int64_t body = (request.PostStream ? request.PostStream->Size() : 0) +
                         static_cast<int64_t>(request.FormText.size());
    record_.reset();
    if (body >= kTrimAfterBodyBytes) malloc_trim(0);
  }
  TRequestRelease(const TRequestRelease&) = delete;
  TRequestRelease& operator=(const TRequestRelease&) = delete;

 private:
  std::unique_ptr<TIdHTTPRequestInfo>& record_;
};

// Where a body that is not kept goes: nowhere, but for the first bytes when they are wanted.
// More than the limit fails the request, which closes the connection without an answer.
class TDiscardStream : public TStream {
 public:
  TDiscardStream(int64_t limit, std::string* keep) : limit_(limit), keep_(keep) {}
  int64_t Size() const override { return size_; }
  int64_t Position() const override { return size_; }
  void SetPosition(int64_t) override {}
  void SetSize(int64_t) override {}
  size_t Read(void*, size_t) override { return 0; }
  void Write(const void* buffer, size_t count) override {
    size_ += static_cast<int64_t>(count);
    if (size_ > limit_) throw EIdHTTPBodyTooLarge();
    if (keep_ != nullptr) keep_->append(static_cast<const char*>(buffer), count);
  }
  std::string_view View() override { return {}; }

 private:
  int64_t limit_;
  std::string* keep_;
  int64_t size_ = 0;
};

// Reads a body that is not kept into a fixed buffer and drops it; false when the client sends
// or announces more than kMaxDiscardedBody (the connection is then closed without an answer).
// With keep, a body of at most keepLimit bytes is kept there instead of dropped.
bool DropBody(TIdTCPConnection& connection, TIdHTTPRequestInfo& request, std::string* keep,
              int64_t keepLimit) {
  constexpr int64_t kLimit = TIdCustomHTTPServer::kMaxDiscardedBody;
  if (request.ContentLength > kLimit) return false;
  const bool untilClose = request.Command == "POST" && !request.HasContentLength();
  if (request.ContentLength <= 0 && !untilClose) return true;
  if (request.ContentLength > 0 && IsContinueExpected(request.RawHeaders.Values("Expect")))
    connection.Write("HTTP/1.1 100 Continue\r\n\r\n");
  const bool keepIt = keep != nullptr && request.ContentLength > 0 && request.ContentLength <= keepLimit;
  TDiscardStream sink(kLimit, keepIt ? keep : nullptr);
  TReadDeadline deadline(connection);
  if (untilClose) {
    connection.ReadStreamUntilClose(sink);
  } else {
    connection.ReadStream(sink, request.ContentLength);
  }
  return true;
}

void FillParamsAndDocument(TIdHTTPRequestInfo& request, std::string target, bool parseParams) {
  const size_t question = target.find('?');
  if (question != std::string::npos) {
    request.QueryString = target.substr(question + 1);
    target.erase(question);
  }
  if (!request.QueryString.empty()) {
    request.RawParams = request.RawParams.empty() ? request.QueryString
                                                  : request.RawParams + "&" + request.QueryString;
  }
  if (parseParams) {
    const std::string type = LowerAscii(request.ContentType);
    request.Params = DecodeParams(type == "application/x-www-form-urlencoded" ? request.RawParams
                                                                            : request.QueryString);
  }
  std::vector<std::string> cookieValues;
  request.RawHeaders.Extract("cookie", cookieValues);
  for (const std::string& value : cookieValues) ParseCookieValue(value, request.Cookies);

  std::string host;
  request.Document = DocumentFromTarget(target, &host);
  if (request.Host.empty() && !host.empty()) request.Host = host;
}

}  // namespace

TIdCustomHTTPServer::TIdCustomHTTPServer() { DefaultPort = 80; }

TIdCustomHTTPServer::~TIdCustomHTTPServer() { DeactivateForDestruction(); }

void TIdCustomHTTPServer::DoExecute(TIdPeerThread& thread) {
  TIdTCPConnection& connection = *thread.Connection();
  bool closeAfter = !KeepAlive;
  do {
    thread.AwaitHead();
    TRequestHeadParser parser(connection.MaxLineLength, TRequestHeadParser::kDefaultMaxHeadBytes,
                              &OnAnswerMethod);
    ReadHead(connection, parser);
    const TRequestHead& head = parser.Head();
    const std::string_view input = connection.InputBuffer();
    if (!head.Answered || !OnCommandGet) return;  // other methods: closed without a response
    if (!thread.BeginRequest()) return;           // closed to make room meanwhile

    auto record = std::make_unique<TIdHTTPRequestInfo>();
    TIdHTTPRequestInfo& request = *record;
    const TRequestRelease release(record);  // declared after the record: runs before its end
    request.RequestLine = head.RequestLine.In(input);
    request.RemoteIP = connection.PeerIP();
    request.Command = UpperAscii(std::string(head.Method.In(input)));
    for (const TTextSpan& line : head.HeaderLines)
      request.RawHeaders.Add(std::string(line.In(input)));
    const std::string target(head.Target.In(input));
    const std::string version(head.Version.In(input));
    connection.Consume(head.Length);
    FillHeaderFields(request);

    const TBodyAdmission admission =
        OnAdmitBody ? OnAdmitBody(&thread, request) : TBodyAdmission::Keep;
    if (admission == TBodyAdmission::Keep) {
      if (OnCreatePostStream) OnCreatePostStream(&thread, request.PostStream);
      const bool ownStream = !request.PostStream;
      if (ownStream) request.PostStream = std::make_unique<TMemoryStream>();
      ReadBody(connection, request);
      if (ownStream) {
        request.FormText = std::string(request.PostStream->View());
        request.RawParams = request.FormText;
        request.PostStream.reset();
      }
    } else if (admission == TBodyAdmission::Handler) {
      request.BodyOnConnection = AnnouncesBody(request);
    } else {
      std::string* keep = admission == TBodyAdmission::SmallForm ? &request.FormText : nullptr;
      if (!DropBody(connection, request, keep, kSmallFormLimit)) return;  // closed, unanswered
    }
    if (!request.BodyOnConnection) connection.MarkMessageEnd();
    FillParamsAndDocument(request, target, ParseParams);
    request.Version = version;
    const std::string authorization = request.RawHeaders.Values("Authorization");
    request.HasAuthorization = !authorization.empty();
    if (request.HasAuthorization)
      ParseBasicAuthorization(authorization, request.AuthUsername, request.AuthPassword);

    TIdHTTPResponseInfo response(&connection);
    // A body the application reads may be left unread anywhere: the connection is not kept.
    response.SetCloseConnection(admission == TBodyAdmission::Handler ||
                                !(KeepAlive && EqualTextIgnoreCase(request.Connection, "Keep-alive")));
    response.HeadOnly = request.Command == "HEAD";
    if (!TrimView(ServerSoftware).empty()) response.Server = ServerSoftware;
    for (const std::string& line : CommonHeaders) response.CustomHeaders.Add(line);
    try {
      OnCommandGet(&thread, request, response);
    } catch (const EIdSocketError&) {
      throw;
    } catch (const EIdClosedSocket&) {
      throw;
    } catch (const std::exception& e) {
      response.SetResponseCode(500);
      response.ContentText = e.what();
      // The message is system text: a browser must not guess its encoding.
      if (response.ContentType == "text/html")
        response.ContentType = "text/html; charset=Shift_JIS";
    }
    // WriteContent writes the header first when needed, together with a text body.
    if (!response.ContentText.empty() || response.ContentStream) {
      response.WriteContent();
    } else if (!response.HeaderWritten()) {
      response.WriteHeader();
    }
    closeAfter = response.CloseConnection();
  } while (!closeAfter);
}

namespace {

// For an answer that accepts ranges: says so, and turns the response into a 206 or 416 when
// the request asked for one range. Returns the plan; Whole leaves the answer as it was.
TByteRangePlan ApplyRequestedRange(TIdHTTPResponseInfo& response, uint64_t size) {
  if (!response.AcceptRanges) return {};
  response.CustomHeaders.Add("Accept-Ranges: bytes");
  const TByteRangePlan plan = PlanByteRange(response.RequestedRange, size);
  switch (plan.outcome) {
    case TRangeOutcome::Whole:
      return plan;
    case TRangeOutcome::Partial:
      response.SetResponseCode(206);
      response.ContentLength = static_cast<int64_t>(plan.length);
      break;
    case TRangeOutcome::Unsatisfiable:
      response.SetResponseCode(416);
      response.ContentLength = 0;  // no file bytes, and no text that could pass for them
      break;
  }
  response.CustomHeaders.Add("Content-Range: " + ContentRangeValue(plan, size));
  return plan;
}

}  // namespace

uint64_t TIdCustomHTTPServer::ServeFile(TIdPeerThread* thread, TIdHTTPResponseInfo& response,
                                        const std::string& fileName) {
  if (response.ContentType.empty()) response.ContentType = mimeTable_.GetFileMIMEType(fileName);
  const std::string nativePath = SystemToNative(fileName);
  // O_NONBLOCK: opening a FIFO must not wait for a writer (it is refused below anyway).
  const int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw EFOpenError(fileName);
  return ServeOpenFile(thread, response, fd, fileName);
}

uint64_t TIdCustomHTTPServer::ServeOpenFile(TIdPeerThread* /*thread*/,
                                            TIdHTTPResponseInfo& response, int fd,
                                            const std::string& fileName) {
  // The descriptor stays open from sizing to sending, so the bytes sent are those of the file
  // that was sized, even when it is renamed or deleted in between.
  struct FdCloser {
    int fd;
    ~FdCloser() { close(fd); }
  } closer{fd};
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) throw EFOpenError(fileName);
  if (response.ContentType.empty()) response.ContentType = mimeTable_.GetFileMIMEType(fileName);
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  response.ContentLength = static_cast<int64_t>(size);
  const TByteRangePlan range = ApplyRequestedRange(response, size);
  response.WriteHeader();
  TIdTCPConnection* connection = response.Connection();
  if (response.HeadOnly || connection == nullptr) return 0;
  if (range.outcome == TRangeOutcome::Unsatisfiable) return 0;
  const uint64_t offset = range.outcome == TRangeOutcome::Partial ? range.first : 0;
  const uint64_t count = range.outcome == TRangeOutcome::Partial ? range.length : size;
  if (TTransferProgress* progress = connection->TransferProgress()) {
    progress->SetTotal(static_cast<int64_t>(count));
  }
  const uint64_t sent = connection->WriteFile(fd, offset, count);
  if (sent < count) {
    // Cut short while being sent: the announced length cannot be met, and any further bytes
    // would be taken for file content. End the connection without another byte.
    throw EIdSocketError(EIO, "File \"" + fileName + "\" changed while being sent");
  }
  return sent;
}

}  // namespace vm
