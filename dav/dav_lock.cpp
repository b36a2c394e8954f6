// The methods of the file-manager door that annotate: PROPPATCH, LOCK and UNLOCK.
#include <fcntl.h>

#include "dav/dav_exchange.h"

namespace vm {

namespace {

constexpr char kLiveNames[][24] = {
    "resourcetype", "getcontentlength", "getlastmodified", "getetag",
    "getcontenttype", "creationdate", "displayname", "supportedlock",
    "lockdiscovery", "quota-available-bytes", "quota-used-bytes", "getcontentlanguage",
};

bool IsLiveName(const TDavPropName& name) {
  if (name.Namespace != kDavNamespace) return false;
  for (const char* live : kLiveNames) {
    if (name.Name == live) return true;
  }
  return false;
}

std::string PropstatOf(const TDavPropName& name, const char* status) {
  return "<D:propstat><D:prop>" + PropertyElement(name, "") + "</D:prop><D:status>HTTP/1.1 " +
         status + "</D:status></D:propstat>";
}

// The lock's answer: the lockdiscovery property with the lock, and its token in a header.
void AnswerLock(TDavExchange& exchange, const TDavLock& lock, int code) {
  exchange.Response().CustomHeaders.Add("Lock-Token: <" + lock.Token + ">");
  exchange.AnswerXml(code, "<D:prop xmlns:D=\"DAV:\"><D:lockdiscovery>" + ActiveLockXml(lock) +
                               "</D:lockdiscovery></D:prop>\n");
}

}  // namespace

void DavProppatch(TDavExchange& exchange) {
  std::optional<TDavResource> target = exchange.ResolveOrRefuse(exchange.Path, false);
  if (!target) return;
  if (!target->Exists()) return exchange.Refuse(404, "Not found.");
  if (target->Path.IsRoot()) return exchange.Refuse(403, "The root keeps no properties.");
  if (!exchange.Allowed(*target, TDavAction::Annotate)) return;
  if (!exchange.PassesLocks({{target->Path, false}})) return;
  std::string body;
  if (!exchange.ReadXmlBody(body)) return;
  TXmlFault fault = TXmlFault::None;
  const auto operations = ParsePropPatch(body, fault);
  if (!operations) return exchange.RefuseXml(fault);
  // All or nothing: one protected property fails the others (424).
  bool protectedSeen = false;
  std::vector<std::pair<TDavPropName, std::optional<std::string>>> changes;
  for (const TPropPatchOperation& operation : *operations) {
    protectedSeen = protectedSeen || IsLiveName(operation.Name);
    changes.emplace_back(operation.Name, operation.Remove ? std::nullopt
                                                          : std::optional<std::string>(operation.Value));
  }
  const bool stored = !protectedSeen && exchange.Properties.Apply(target->Path, target->Id(), changes);
  std::string out = "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>" +
                    XmlEscaped(DavHref(target->Path, target->IsCollection())) + "</D:href>";
  for (const TPropPatchOperation& operation : *operations) {
    const char* status = stored ? "200 OK"
                         : IsLiveName(operation.Name) ? "403 Forbidden"
                         : protectedSeen             ? "424 Failed Dependency"
                                                     : "507 Insufficient Storage";
    out += PropstatOf(operation.Name, status);
  }
  out += "</D:response></D:multistatus>\n";
  exchange.AnswerXml(207, out);
}

void DavLock(TDavExchange& exchange) {
  std::optional<TDavResource> target = exchange.ResolveOrRefuse(exchange.Path, true);
  if (!target) return;
  if (target->Path.Segments.size() < 2) {
    return exchange.Refuse(403, "A whole share is not locked: other clients would be shut out.");
  }
  std::string body;
  if (!exchange.ReadXmlBody(body)) return;
  const std::chrono::seconds timeout = TDavLockTable::ParseTimeout(exchange.Header("Timeout"));
  if (body.find_first_not_of(" \t\r\n") == std::string::npos) {
    // A refresh: the token comes in the If header, which held already.
    const std::string header = exchange.Header("If");
    const std::optional<std::vector<TIfList>> lists = ParseIfHeader(header);
    for (const std::string& token : lists ? SubmittedTokens(*lists) : std::vector<std::string>()) {
      if (std::optional<TDavLock> lock = exchange.Locks.Refresh(token, target->Path, timeout)) {
        exchange.AnswerXml(200, "<D:prop xmlns:D=\"DAV:\"><D:lockdiscovery>" +
                                    ActiveLockXml(*lock) + "</D:lockdiscovery></D:prop>\n");
        return;
      }
    }
    return exchange.AnswerCondition(412, "lock-token-matches-request-uri");
  }
  TXmlFault fault = TXmlFault::None;
  const std::optional<TLockInfo> info = ParseLockInfo(body, fault);
  if (!info) return exchange.RefuseXml(fault);
  const std::optional<int> depth = exchange.Depth(-1);
  if (!depth) return;
  if (*depth == 1) return exchange.Refuse(400, "A lock's depth is 0 or infinity.");
  const bool exists = target->Exists();
  if (!exchange.Allowed(*target, TDavAction::Create)) return;
  if (!exists && !exchange.NewNameAllowed(target->Path.Leaf())) return;
  if (!exists && !exchange.PassesLocks({{target->Path.Parent(), false}})) return;

  TDavLock lock;
  lock.Root = target->Path;
  lock.Root.TrailingSlash = false;
  lock.Infinite = *depth != 0;
  lock.Exclusive = info->Exclusive;
  lock.OwnerXml = info->OwnerXml;
  lock.Address = exchange.Request().RemoteIP;
  lock.Timeout = timeout;
  switch (exchange.Locks.Lock(lock)) {
    case TDavLockTable::TOutcome::Granted:
      break;
    case TDavLockTable::TOutcome::Conflict:
      return exchange.AnswerCondition(423, "no-conflicting-lock");
    case TDavLockTable::TOutcome::TooMany:
      return exchange.Refuse(503, "Too many locks are held; release some first.");
  }
  if (!exists) {
    // A lock of a new name makes an empty file, which the client then fills.
    const int fd = openat(target->Parent.Get(), target->Path.Leaf().c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      exchange.Locks.Unlock(lock.Token, lock.Root);
      return exchange.Refuse(409, "The file could not be made.");
    }
    close(fd);
  }
  AnswerLock(exchange, lock, exists ? 200 : 201);
}

void DavUnlock(TDavExchange& exchange) {
  std::string token = exchange.Header("Lock-Token");
  if (token.size() < 2 || token.front() != '<' || token.back() != '>') {
    return exchange.Refuse(400, "The Lock-Token header is missing.");
  }
  token = token.substr(1, token.size() - 2);
  if (!exchange.Locks.Unlock(token, exchange.Path)) {
    return exchange.AnswerCondition(409, "lock-token-matches-request-uri");
  }
  exchange.Empty(204);
}

}  // namespace vm
