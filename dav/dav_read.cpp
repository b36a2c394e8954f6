// The reading methods of the file-manager door: OPTIONS, PROPFIND, GET and HEAD.
#include <fcntl.h>
#include <sys/statvfs.h>

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

// The value of a live property, or nothing when the resource has none such.
std::optional<std::string> LiveValue(TDavExchange& exchange, TLive live, const TDescribed& item) {
  const bool file = !item.Collection;
  switch (live) {
    case TLive::ResourceType:
      return item.Collection ? "<D:collection/>" : "";
    case TLive::ContentLength:
      if (file) return std::to_string(item.Info.st_size);
      break;
    case TLive::LastModified:
      if (!item.Root) return HttpDate(item.Info.st_mtime);
      break;
    case TLive::Etag:
      if (!item.Root) return XmlEscaped(DavEtag(item.Info));
      break;
    case TLive::ContentType:
      if (file)
        return XmlEscaped(exchange.Call.Server.MimeTable().GetFileMIMEType(item.Path.Leaf()));
      break;
    case TLive::CreationDate:
      if (!item.Root) return IsoDate(item.Info.st_mtime);
      break;
    case TLive::DisplayName:
      return XmlEscaped(item.Root ? std::string("Velmarind") : ToValidUtf8(item.Path.Leaf()));
    case TLive::SupportedLock:
      return kSupportedLock;
    case TLive::LockDiscovery: {
      std::string value;
      for (const TDavLock& lock : exchange.Locks.Covering(item.Path)) value += ActiveLockXml(lock);
      return value;
    }
    case TLive::QuotaAvailable:
    case TLive::QuotaUsed: {
      struct statvfs volume {};
      if (!item.Collection || item.Fd < 0 || fstatvfs(item.Fd, &volume) != 0) break;
      const unsigned long long bytes =
          live == TLive::QuotaAvailable
              ? static_cast<unsigned long long>(volume.f_bavail) * volume.f_frsize
              : static_cast<unsigned long long>(volume.f_blocks - volume.f_bfree) * volume.f_frsize;
      return std::to_string(bytes);
    }
  }
  return std::nullopt;
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
void AppendResponse(TDavExchange& exchange, const TPropfindRequest& asked, const TDescribed& item,
                    std::string& out) {
  const TDavPropertyStore::TProperties dead =
      item.Root ? TDavPropertyStore::TProperties()
                : exchange.Properties.Get(item.Path, {item.Info.st_dev, item.Info.st_ino});
  std::string found;
  std::string missing;
  using TKind = TPropfindRequest::TKind;
  if (asked.Kind == TKind::Prop) {
    for (const TDavPropName& name : asked.Props) {
      std::optional<std::string> value;
      if (const TLiveName* live = FindLive(name)) {
        value = LiveValue(exchange, live->Live, item);
      } else if (auto stored = dead.find(name); stored != dead.end()) {
        value = stored->second;
      }
      if (value) {
        found += PropertyElement(name, *value);
      } else {
        missing += PropertyElement(name, "");
      }
    }
  } else {
    for (const TLiveName& live : kLiveNames) {
      const bool included = live.InAllProp || asked.Kind == TKind::PropName ||
                            std::find(asked.Props.begin(), asked.Props.end(),
                                      TDavPropName{kDavNamespace, std::string(live.Name)}) !=
                                asked.Props.end();
      if (!included) continue;
      const std::optional<std::string> value = LiveValue(exchange, live.Live, item);
      if (!value) continue;
      const TDavPropName name{kDavNamespace, std::string(live.Name)};
      found += PropertyElement(name, asked.Kind == TKind::PropName ? std::string() : *value);
    }
    for (const auto& [name, value] : dead) {
      found += PropertyElement(name, asked.Kind == TKind::PropName ? std::string() : value);
    }
  }
  out += "<D:response><D:href>";
  out += XmlEscaped(DavHref(item.Path, item.Collection));
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
  std::string out = "<D:multistatus xmlns:D=\"DAV:\">\n";
  const bool root = resource->Kind == TDavResource::TKind::Root;
  AppendResponse(exchange, *asked,
                 {resource->Path, root, resource->IsCollection(), resource->Info,
                  root ? -1 : resource->Object.Get()},
                 out);
  if (*depth == 1 && root) {
    for (const auto& [display, system] : exchange.Resolver.Shares()) {
      TResolveFault shareFault = TResolveFault::None;
      const TDavPath sharePath{{display}, true};
      std::optional<TDavResource> share = exchange.Resolver.Resolve(sharePath, shareFault);
      if (!share) continue;
      AppendResponse(exchange, *asked,
                     {share->Path, false, true, share->Info, share->Object.Get()}, out);
    }
  } else if (*depth == 1 && resource->Kind == TDavResource::TKind::Folder && listable) {
    const std::vector<TDavResolver::TMember> members = exchange.Resolver.Members(*resource);
    out.reserve(out.size() + members.size() * 512);
    TDavPath memberPath = resource->Path;
    memberPath.Segments.emplace_back();
    for (const TDavResolver::TMember& member : members) {
      memberPath.Segments.back() = member.Name;
      AppendResponse(exchange, *asked,
                     {memberPath, false, S_ISDIR(member.Info.st_mode), member.Info, -1}, out);
    }
  }
  out += "</D:multistatus>\n";
  exchange.AnswerXml(207, out);
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
