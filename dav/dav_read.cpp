// The reading methods of the file-manager door: OPTIONS, PROPFIND, GET and HEAD.
#include <fcntl.h>
#include <sys/statvfs.h>

#include <charconv>

#include "dav/dav_exchange.h"
#include "http/tcp_connection.h"
#include "platform/fs_names.h"

namespace vm {

namespace {

constexpr char kAllow[] =
    "Allow: OPTIONS, GET, HEAD, PUT, DELETE, PROPFIND, PROPPATCH, MKCOL, COPY, MOVE, LOCK, UNLOCK";
// A file opened from the door is shown by a browser in a sandbox: a page in a share must not
// act as this server's own.
constexpr char kSandbox[] = "Content-Security-Policy: sandbox";
constexpr char kFolderText[] =
    "This is a folder of Velmarind's file-manager door (WebDAV): open it in a file manager.\r\n";

// The live properties, in the order allprop gives them.
enum class TLive {
  ResourceType, ContentLength, LastModified, Etag, ContentType, CreationDate, DisplayName,
  SupportedLock, LockDiscovery, QuotaAvailable, QuotaUsed,
};
struct TLiveName {
  std::string_view Name;
  TLive Live;
  bool InAllProp;
};
constexpr TLiveName kLiveNames[] = {
    {"resourcetype", TLive::ResourceType, true},
    {"getcontentlength", TLive::ContentLength, true},
    {"getlastmodified", TLive::LastModified, true},
    {"getetag", TLive::Etag, true},
    {"getcontenttype", TLive::ContentType, true},
    {"creationdate", TLive::CreationDate, true},
    {"displayname", TLive::DisplayName, true},
    {"supportedlock", TLive::SupportedLock, true},
    {"lockdiscovery", TLive::LockDiscovery, true},
    // Asked for by name only: they cost a file-system query.
    {"quota-available-bytes", TLive::QuotaAvailable, false},
    {"quota-used-bytes", TLive::QuotaUsed, false},
};

// A PROPFIND answer is sent in pieces of about this size.
constexpr size_t kAnswerPiece = 256 * 1024;

constexpr char kSupportedLock[] =
    "<D:lockentry><D:lockscope><D:exclusive/></D:lockscope><D:locktype><D:write/></D:locktype>"
    "</D:lockentry><D:lockentry><D:lockscope><D:shared/></D:lockscope><D:locktype><D:write/>"
    "</D:locktype></D:lockentry>";

// One resource to describe: the root, a share's folder, an entry.
struct TDescribed {
  const TDavPath& Path;
  bool Root;
  bool Collection;
  const struct stat& Info;
  int Fd;  // a descriptor inside it (for the quota), -1 when none
};

// What one PROPFIND answer is written with: the request, what the whole answer shares, and
// buffers reused from one resource to the next (a listing writes thousands of them).
struct TWriter {
  TWriter(TDavExchange& exchange, const TPropfindRequest& asked) : Exchange(exchange), Asked(asked) {}
  TDavExchange& Exchange;
  const TPropfindRequest& Asked;
  bool AnyDead = false;   // the property store holds something at all
  bool AnyLocks = false;  // a lock is held at all
  time_t DatesOf = -1;    // the time Http and Iso were written for
  std::string Http, Iso;
  std::string Found, Missing;
};

void AppendDecimal(std::string& out, unsigned long long value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// Appends the value of a live property; false, appending nothing, when the resource has none.
bool AppendLiveValue(TWriter& writer, TLive live, const TDescribed& item, std::string& out) {
  const bool file = !item.Collection;
  if (!item.Root && writer.DatesOf != item.Info.st_mtime &&
      (live == TLive::LastModified || live == TLive::CreationDate)) {
    writer.DatesOf = item.Info.st_mtime;
    writer.Http = HttpDate(writer.DatesOf);
    writer.Iso = IsoDate(writer.DatesOf);
  }
  switch (live) {
    case TLive::ResourceType:
      if (item.Collection) out += "<D:collection/>";
      return true;
    case TLive::ContentLength:
      if (!file) return false;
      AppendDecimal(out, static_cast<unsigned long long>(item.Info.st_size));
      return true;
    case TLive::LastModified:
      if (item.Root) return false;
      out += writer.Http;
      return true;
    case TLive::Etag:
      if (item.Root) return false;
      out += DavEtag(item.Info);  // quotes need no escape in text
      return true;
    case TLive::ContentType:
      if (!file) return false;
      out += XmlEscaped(writer.Exchange.Call.Server.MimeTable().GetFileMIMEType(item.Path.Leaf()));
      return true;
    case TLive::CreationDate:
      if (item.Root) return false;
      out += writer.Iso;
      return true;
    case TLive::DisplayName:
      out += item.Root ? std::string("Velmarind") : XmlEscaped(ToValidUtf8(item.Path.Leaf()));
      return true;
    case TLive::SupportedLock:
      out += kSupportedLock;
      return true;
    case TLive::LockDiscovery:
      if (writer.AnyLocks) {
        for (const TDavLock& lock : writer.Exchange.Locks.Covering(item.Path)) out += ActiveLockXml(lock);
      }
      return true;
    case TLive::QuotaAvailable:
    case TLive::QuotaUsed: {
      struct statvfs volume {};
      if (!item.Collection || item.Fd < 0 || fstatvfs(item.Fd, &volume) != 0) return false;
      AppendDecimal(out, live == TLive::QuotaAvailable
                             ? static_cast<unsigned long long>(volume.f_bavail) * volume.f_frsize
                             : static_cast<unsigned long long>(volume.f_blocks - volume.f_bfree) *
                                   volume.f_frsize);
      return true;
    }
  }
  return false;
}

// Appends a live property element: "<D:name>value</D:name>", "<D:name/>" with namesOnly.
// False, appending nothing, when the resource has no such property.
bool AppendLive(TWriter& writer, const TLiveName& live, const TDescribed& item, bool namesOnly,
                std::string& out) {
  const size_t start = out.size();
  out += "<D:";
  out += live.Name;
  out += '>';
  const size_t valueStart = out.size();
  if (!AppendLiveValue(writer, live.Live, item, out)) {
    out.resize(start);
    return false;
  }
  if (namesOnly || out.size() == valueStart) {
    out.resize(valueStart - 1);
    out += "/>";
    return true;
  }
  out += "</D:";
  out += live.Name;
  out += '>';
  return true;
}

const TLiveName* FindLive(const TDavPropName& name) {
  if (name.Namespace != kDavNamespace) return nullptr;
  for (const TLiveName& live : kLiveNames) {
    if (live.Name == name.Name) return &live;
  }
  return nullptr;
}

void AppendPropstat(std::string& out, const std::string& props, const char* status) {
  if (props.empty()) return;
  out += "<D:propstat><D:prop>";
  out += props;
  out += "</D:prop><D:status>HTTP/1.1 ";
  out += status;
  out += "</D:status></D:propstat>";
}

// Appends the response element of one resource.
void AppendResponse(TWriter& writer, const TDescribed& item, std::string& out) {
  const TDavPropertyStore::TProperties dead =
      item.Root || !writer.AnyDead
          ? TDavPropertyStore::TProperties()
          : writer.Exchange.Properties.Get(item.Path, {item.Info.st_dev, item.Info.st_ino});
  std::string& found = writer.Found;
  std::string& missing = writer.Missing;
  found.clear();
  missing.clear();
  using TKind = TPropfindRequest::TKind;
  const TPropfindRequest& asked = writer.Asked;
  if (asked.Kind == TKind::Prop) {
    for (const TDavPropName& name : asked.Props) {
      const TLiveName* live = FindLive(name);
      if (live != nullptr && AppendLive(writer, *live, item, false, found)) continue;
      const auto stored = live == nullptr ? dead.find(name) : dead.end();
      if (stored != dead.end()) {
        found += PropertyElement(name, stored->second);
      } else {
        missing += PropertyElement(name, "");
      }
    }
  } else {
    const bool namesOnly = asked.Kind == TKind::PropName;
    for (const TLiveName& live : kLiveNames) {
      const bool included = live.InAllProp || namesOnly ||
                            std::find(asked.Props.begin(), asked.Props.end(),
                                      TDavPropName{kDavNamespace, std::string(live.Name)}) !=
                                asked.Props.end();
      if (included) AppendLive(writer, live, item, namesOnly, found);
    }
    for (const auto& [name, value] : dead) {
      found += PropertyElement(name, namesOnly ? std::string() : value);
    }
  }
  // An href holds only unreserved characters, "%" and "/": nothing to escape.
  out += "<D:response><D:href>";
  out += DavHref(item.Path, item.Collection);
  out += "</D:href>";
  AppendPropstat(out, found, "200 OK");
  AppendPropstat(out, missing, "404 Not Found");
  out += "</D:response>\n";
}

}  // namespace

std::string ActiveLockXml(const TDavLock& lock) {
  std::string xml = "<D:activelock><D:locktype><D:write/></D:locktype><D:lockscope>";
  xml += lock.Exclusive ? "<D:exclusive/>" : "<D:shared/>";
  xml += "</D:lockscope><D:depth>";
  xml += lock.Infinite ? "infinity" : "0";
  xml += "</D:depth>";
  if (!lock.OwnerXml.empty()) xml += "<D:owner>" + lock.OwnerXml + "</D:owner>";
  xml += "<D:timeout>Second-" + std::to_string(lock.Timeout.count()) + "</D:timeout>";
  xml += "<D:locktoken><D:href>" + XmlEscaped(lock.Token) + "</D:href></D:locktoken>";
  xml += "<D:lockroot><D:href>" + XmlEscaped(DavHref(lock.Root, false)) +
         "</D:href></D:lockroot></D:activelock>";
  return xml;
}

void DavOptions(TDavExchange& exchange) {
  TIdHTTPResponseInfo& response = exchange.Response();
  response.CustomHeaders.Add("DAV: 1, 2");
  response.CustomHeaders.Add(kAllow);
  // Tells the office programs of one desktop system that this server speaks the protocol.
  response.CustomHeaders.Add("MS-Author-Via: DAV");
  exchange.Empty(200);
}

void DavPropfind(TDavExchange& exchange) {
  const std::optional<int> depth = exchange.Depth(-1);
  if (!depth) return;
  if (*depth < 0) {
    // A whole tree in one answer is unbounded work for one request.
    return exchange.AnswerCondition(403, "propfind-finite-depth");
  }
  std::string body;
  if (!exchange.ReadXmlBody(body)) return;
  TXmlFault fault = TXmlFault::None;
  const std::optional<TPropfindRequest> asked = ParsePropfind(body, fault);
  if (!asked) return exchange.RefuseXml(fault);
  std::optional<TDavResource> resource = exchange.ResolveOrRefuse(exchange.Path, false);
  if (!resource) return;
  if (!resource->Exists()) return exchange.Refuse(404, "Not found.");
  const bool listable = !resource->Mode || DavModeAllows(*resource->Mode, TDavAction::Read);
  // A drop box shows itself, empty; what lies in it is not shown at all.
  if (!listable && !resource->IsShareRoot() && resource->Kind != TDavResource::TKind::Folder) {
    return exchange.Refuse(404, "Not found.");
  }
  // An answer longer than one piece goes out in pieces as it is written, delimited by the
  // connection's close: a folder of any size costs one piece of memory, and the client reads
  // while we write. A shorter one is sent whole, with its length.
  std::string out;
  exchange.Status(207);
  TIdHTTPResponseInfo& response = exchange.Response();
  response.ContentType = "application/xml; charset=utf-8";
  const auto flush = [&exchange, &out, &response] {
    TIdTCPConnection* connection =
        exchange.Call.Thread != nullptr ? exchange.Call.Thread->Connection() : nullptr;
    if (connection == nullptr || out.size() < kAnswerPiece) return;
    if (!response.HeaderWritten()) {
      response.SetCloseConnection(true);
      response.WriteHeader();
    }
    connection->Write(out);
    out.clear();
  };
  out.reserve(kAnswerPiece + 4096);
  out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">\n";
  const bool root = resource->Kind == TDavResource::TKind::Root;
  TWriter writer(exchange, *asked);
  writer.AnyDead = !exchange.Properties.Empty();
  writer.AnyLocks = !exchange.Locks.Empty();
  AppendResponse(writer,
                 {resource->Path, root, resource->IsCollection(), resource->Info,
                  root ? -1 : resource->Object.Get()},
                 out);
  if (*depth == 1 && root) {
    for (const auto& [display, system] : exchange.Resolver.Shares()) {
      TResolveFault shareFault = TResolveFault::None;
      const TDavPath sharePath{{display}, true};
      std::optional<TDavResource> share = exchange.Resolver.Resolve(sharePath, shareFault);
      if (!share) continue;
      AppendResponse(writer, {share->Path, false, true, share->Info, share->Object.Get()}, out);
    }
  } else if (*depth == 1 && resource->Kind == TDavResource::TKind::Folder && listable) {
    TDavPath memberPath = resource->Path;
    memberPath.Segments.emplace_back();
    exchange.Resolver.ForEachMember(*resource, [&](const TDavResolver::TMember& member) {
      memberPath.Segments.back() = member.Name;
      AppendResponse(writer, {memberPath, false, S_ISDIR(member.Info.st_mode), member.Info, -1}, out);
      flush();
    });
  }
  out += "</D:multistatus>\n";
  if (!response.HeaderWritten()) {
    response.ContentText = std::move(out);
  } else if (exchange.Call.Thread != nullptr) {
    exchange.Call.Thread->Connection()->Write(out);
  }
}

void DavGet(TDavExchange& exchange) {
  std::optional<TDavResource> resource = exchange.ResolveOrRefuse(exchange.Path, false);
  if (!resource) return;
  if (!exchange.Allowed(*resource, TDavAction::Read)) return;
  if (!resource->Exists()) return exchange.Refuse(404, "Not found.");
  TIdHTTPResponseInfo& response = exchange.Response();
  if (resource->IsCollection()) {
    response.ContentType = "text/plain; charset=UTF-8";
    response.ContentText = kFolderText;
    return;
  }
  const std::string self = "/proc/self/fd/" + std::to_string(resource->Object.Get());
  TUniqueFd file(open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  struct stat opened {};
  if (!file || fstat(file.Get(), &opened) != 0 || opened.st_ino != resource->Info.st_ino) {
    return exchange.Refuse(404, "Not found.");
  }
  const std::string etag = DavEtag(opened);
  response.CustomHeaders.Add("ETag: " + etag);
  response.CustomHeaders.Add("Last-Modified: " + HttpDate(opened.st_mtime));
  response.CustomHeaders.Add(kSandbox);
  response.ContentType = exchange.Call.Server.MimeTable().GetFileMIMEType(resource->Path.Leaf());
  response.AcceptRanges = true;
  // A range of another version of the file would be spliced into the wrong bytes.
  const std::string ifRange = exchange.Header("If-Range");
  if (ifRange.empty() || ifRange == etag) response.RequestedRange = exchange.Header("Range");
  const std::string name = NativeToSystem(resource->Path.Leaf());
  if (exchange.Call.Thread != nullptr && exchange.Request().Command == "GET") {
    exchange.Call.Thread->Connection()->SetTransferProgress(exchange.Call.State.Clients().BeginTransfer(
        exchange.Request().RemoteIP, TTransferKind::Download, name, -1));
  }
  exchange.Call.Server.ServeOpenFile(exchange.Call.Thread, response, file.Release(), name);
}

}  // namespace vm
