#include "dav/dav_exchange.h"

#include <fcntl.h>
#include <time.h>

#include <algorithm>
#include <charconv>

#include "http/body_reader.h"
#include "http/tcp_connection.h"
#include "platform/fs_names.h"
#include "platform/name_marks.h"
#include "platform/sjis.h"

namespace vm {

namespace {

struct TReason {
  int Code;
  const char* Text;
};
// Reasons the engine's table lacks.
constexpr TReason kReasons[] = {
    {207, "Multi-Status"},       {421, "Misdirected Request"}, {423, "Locked"},
    {424, "Failed Dependency"},  {507, "Insufficient Storage"}, {502, "Bad Gateway"},
    {412, "Precondition Failed"}, {416, "Range Not Satisfiable"},
};

}  // namespace

TDavExchange::TDavExchange(TDavCall& call, TDavLockTable& locks, TDavPropertyStore& properties,
                           const TStateSnapshot& snapshot, TDavPath path)
    : Call(call),
      Locks(locks),
      Properties(properties),
      Snapshot(snapshot),
      Resolver(snapshot),
      Path(std::move(path)) {}

std::string TDavExchange::Header(std::string_view name) const {
  return TrimText(Call.Request.RawHeaders.Values(std::string(name)));
}

void TDavExchange::Status(int code) {
  Call.Response.SetResponseCode(code);
  for (const TReason& reason : kReasons) {
    if (reason.Code == code) Call.Response.ResponseText = reason.Text;
  }
}

void TDavExchange::Empty(int code) {
  Status(code);
  Call.Response.ContentType.clear();
  if (code != 204) Call.Response.ContentLength = 0;
}

void TDavExchange::Refuse(int code, std::string_view why) {
  Status(code);
  Call.Response.ContentType = "text/plain; charset=UTF-8";
  Call.Response.ContentText = std::string(why) + "\r\n";
}

void TDavExchange::RefuseFault(TResolveFault fault, bool writing) {
  switch (fault) {
    case TResolveFault::NoParent:
      if (writing) return Refuse(409, "The folder it would go into does not exist.");
      break;
    case TResolveFault::Hidden:
      if (writing) return Refuse(403, "Names starting with \".\" are not published here.");
      break;
    case TResolveFault::NoShare:
      if (writing && Path.Segments.size() == 1)
        return Refuse(403, "Shares are made in the settings window, not by clients.");
      break;
    case TResolveFault::Outside:
    case TResolveFault::None:
      break;
  }
  Refuse(404, "Not found.");
}

void TDavExchange::AnswerXml(int code, std::string_view body) {
  Status(code);
  Call.Response.ContentType = "application/xml; charset=utf-8";
  std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  text += body;
  Call.Response.ContentText = std::move(text);
}

void TDavExchange::AnswerCondition(int code, std::string_view condition,
                                   const std::vector<std::string>& hrefs) {
  std::string body = "<D:error xmlns:D=\"DAV:\"><D:" + std::string(condition);
  if (hrefs.empty()) {
    body += "/>";
  } else {
    body += ">";
    for (const std::string& href : hrefs) body += "<D:href>" + XmlEscaped(href) + "</D:href>";
    body += "</D:" + std::string(condition) + ">";
  }
  AnswerXml(code, body + "</D:error>\n");
}

bool TDavExchange::ReadXmlBody(std::string& body) {
  body.clear();
  TIdHTTPRequestInfo& request = Call.Request;
  if (!request.BodyOnConnection || Call.Thread == nullptr) return true;
  if (request.ContentLength > static_cast<int64_t>(kMaxDavXmlBody)) {
    Refuse(413, "The request body is too large.");
    return false;
  }
  TIdBodyReader reader(*Call.Thread->Connection(), request);
  body.resize(static_cast<size_t>(reader.Remaining()));
  size_t got = 0;
  while (got < body.size()) {
    const size_t n = reader.Read(body.data() + got, body.size() - got);
    if (n == 0) break;
    got += n;
  }
  body.resize(got);
  BodyConsumed = true;
  return true;
}

void TDavExchange::RefuseXml(TXmlFault fault) {
  Refuse(400, fault == TXmlFault::Refused
                  ? "The XML body is refused: document type declarations (and with them "
                    "entities) are not accepted, and nesting and size are bounded."
                  : "The XML body is not well-formed, or not what the method expects.");
}

bool TDavExchange::IfHolds() {
  const std::string header = Header("If");
  if (header.empty()) return true;
  ifLists_ = ParseIfHeader(header);
  if (!ifLists_) {
    Refuse(400, "The If header cannot be read.");
    return false;
  }
  for (const TIfList& list : *ifLists_) {
    TDavPath resourcePath = Path;
    if (!list.Resource.empty()) {
      std::optional<TDavPath> tagged = ParseDavTarget(list.Resource);
      if (!tagged) continue;
      resourcePath = std::move(*tagged);
    }
    TResolveFault fault = TResolveFault::None;
    const std::optional<TDavResource> resource = Resolver.Resolve(resourcePath, fault);
    const std::string etag =
        resource && resource->Exists() && !resource->Path.IsRoot() ? DavEtag(resource->Info) : "";
    const bool holds = std::all_of(
        list.Conditions.begin(), list.Conditions.end(), [&](const TIfCondition& condition) {
          const bool met = condition.IsEtag ? !etag.empty() && condition.Value == etag
                                            : Locks.Covers(condition.Value, resourcePath);
          return met != condition.Not;
        });
    if (holds) return true;
  }
  Refuse(412, "The If header's conditions do not hold.");
  return false;
}

bool TDavExchange::PassesLocks(const std::vector<std::pair<TDavPath, bool>>& scopes) {
  const std::vector<std::string> submitted =
      ifLists_ ? SubmittedTokens(*ifLists_) : std::vector<std::string>();
  for (const auto& [path, below] : scopes) {
    const std::vector<TDavLock> locks = Locks.Affecting(path, below);
    if (locks.empty()) continue;
    const bool held = std::any_of(locks.begin(), locks.end(), [&](const TDavLock& lock) {
      return std::find(submitted.begin(), submitted.end(), lock.Token) != submitted.end();
    });
    if (!held) {
      AnswerCondition(423, "lock-token-submitted", {DavHref(locks.front().Root, false)});
      return false;
    }
  }
  return true;
}

std::optional<int> TDavExchange::Depth(int fallback) {
  const std::string depth = Header("Depth");
  if (depth.empty()) return fallback;
  if (depth == "0") return 0;
  if (depth == "1") return 1;
  if (EqualTextIgnoreCase(depth, "infinity")) return -1;
  Refuse(400, "The Depth header must be 0, 1 or infinity.");
  return std::nullopt;
}

std::optional<TDavResource> TDavExchange::ResolveOrRefuse(const TDavPath& path, bool writing) {
  TResolveFault fault = TResolveFault::None;
  std::optional<TDavResource> resource = Resolver.Resolve(path, fault);
  if (!resource) RefuseFault(fault, writing);
  return resource;
}

bool TDavExchange::Allowed(const TDavResource& resource, TDavAction action) {
  if (resource.Kind == TDavResource::TKind::Root) {
    if (action == TDavAction::Read) return true;
    Refuse(403, "The list of shares is changed in the settings window only.");
    return false;
  }
  if (resource.Mode && DavModeAllows(*resource.Mode, action)) return true;
  switch (action) {
    case TDavAction::Read:
      Refuse(403, "This share takes new files only; its contents are not shown.");
      break;
    case TDavAction::Create:
      Refuse(403, "This share is for viewing only.");
      break;
    case TDavAction::NewFolder:
      Refuse(403, "Folders are made only in shares that are not for viewing or new files only.");
      break;
    case TDavAction::Replace:
      Refuse(403, "This share takes new names only; an existing file is never replaced.");
      break;
    case TDavAction::Annotate:
    case TDavAction::Change:
      Refuse(403, "Deleting, moving and copying are allowed only in shares with full access.");
      break;
  }
  return false;
}

bool TDavExchange::MayRemove(const TDavResource& resource) {
  const TUniqueFd entry(
      resource.Parent ? openat(resource.Parent.Get(), resource.Path.Leaf().c_str(),
                               O_PATH | O_NOFOLLOW | O_CLOEXEC)
                      : -1);
  struct stat info {};
  if (entry && Resolver.Access().Allows(entry.Get(), TShareOperation::Delete) &&
      fstat(entry.Get(), &info) == 0 &&
      !(S_ISDIR(info.st_mode) && Resolver.Access().HoldsProtectedFolder(entry.Get()))) {
    return true;
  }
  Refuse(403, "A shared folder, or a folder holding one or the program's own, is neither deleted, "
              "moved nor replaced.");
  return false;
}

bool TDavExchange::NewNameAllowed(const std::string& name) {
  if (Resolver.Access().HidesName(name)) {
    Refuse(403, "Names starting with \".\" are not published here.");
    return false;
  }
  bool controls = false;
  for (size_t k = 0; k < name.size(); ++k) {
    const auto byte = static_cast<unsigned char>(name[k]);
    // C0 and DEL; C1 (U+0080-U+009F) is 0xC2 0x80-0x9F in UTF-8.
    controls = controls || byte < 0x20 || byte == 0x7F ||
               (byte == 0xC2 && k + 1 < name.size() &&
                static_cast<unsigned char>(name[k + 1]) < 0xA0);
  }
  if (controls || ToValidUtf8(name) != name || HasLayoutMarks(name)) {
    Refuse(403, "The name holds a control character, a layout mark or bytes that are not UTF-8.");
    return false;
  }
  return true;
}

void TDavExchange::Notify(TShareChange::TKind kind, const TDavResource& resource,
                          std::string newName) {
  TShareChange change;
  change.Kind = kind;
  change.FolderName = resource.ShareName;
  change.FileName = resource.Path.IsRoot() ? "" : NativeToSystem(resource.Path.Leaf());
  change.FileCount = 1;
  change.ClientAddress = Call.Request.RemoteIP;
  change.NewName = newName.empty() ? "" : NativeToSystem(newName);
  Call.State.NotifyShareChange(change);
}

std::string DavEtag(const struct stat& info) {
  const unsigned long long parts[] = {
      static_cast<unsigned long long>(info.st_ino), static_cast<unsigned long long>(info.st_size),
      static_cast<unsigned long long>(info.st_mtim.tv_sec) * 1000000000ULL +
          static_cast<unsigned long long>(info.st_mtim.tv_nsec)};
  char text[64];
  char* end = text;
  *end++ = '"';
  for (const unsigned long long part : parts) {
    if (end != text + 1) *end++ = '-';
    end = std::to_chars(end, text + sizeof text, part, 16).ptr;
  }
  *end++ = '"';
  return std::string(text, end);
}

std::string HttpDate(time_t time) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm parts {};
  gmtime_r(&time, &parts);
  char text[64];
  snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[parts.tm_wday],
           parts.tm_mday, kMonths[parts.tm_mon], parts.tm_year + 1900, parts.tm_hour,
           parts.tm_min, parts.tm_sec);
  return text;
}

std::string IsoDate(time_t time) {
  struct tm parts {};
  gmtime_r(&time, &parts);
  char text[64];
  snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
           parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

}  // namespace vm
