#include "web/request_guard.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "platform/sjis.h"

namespace vm {

namespace {

constexpr int kDefaultHttpPort = 80;
constexpr int kHighestPort = 65535;
constexpr std::string_view kHttpScheme = "http://";
constexpr std::string_view kLocalhost = "localhost";
// Names a machine announces for itself on the local network (mDNS) end in this.
constexpr std::string_view kMulticastDnsDomain = "local";
constexpr std::string_view kNullOrigin = "null";
constexpr char kOriginHeader[] = "Origin";
constexpr char kFetchSiteHeader[] = "Sec-Fetch-Site";
constexpr char kFetchModeHeader[] = "Sec-Fetch-Mode";
constexpr char kFetchDestHeader[] = "Sec-Fetch-Dest";
// Reading the interfaces takes a system call round; a flood of foreign host names must not
// turn into a flood of those.
constexpr auto kIdentityRefreshInterval = std::chrono::seconds(1);

struct THostPort {
  std::string_view Host;  // brackets kept for IPv6, one final "." removed
  int Port = kDefaultHttpPort;
};

std::optional<int> ParsePort(std::string_view digits) {
  if (digits.empty()) return kDefaultHttpPort;  // "name:" means the default port
  if (digits.size() > 5) return std::nullopt;
  int port = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port > kHighestPort) return std::nullopt;
  return port;
}

// Splits "name[:port]" or "[v6][:port]"; nothing for text that is neither.
std::optional<THostPort> SplitHostPort(std::string_view text) {
  THostPort parts;
  std::string_view portText;
  bool hasPort = false;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    parts.Host = text.substr(0, close + 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      portText = rest.substr(1);
      hasPort = true;
    }
  } else {
    const size_t colon = text.find(':');
    // A bare IPv6 address is not a valid host: it would need its brackets.
    if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos)
      return std::nullopt;
    parts.Host = text.substr(0, colon);
    if (colon != std::string_view::npos) {
      portText = text.substr(colon + 1);
      hasPort = true;
    }
    if (!parts.Host.empty() && parts.Host.back() == '.') parts.Host.remove_suffix(1);
  }
  if (parts.Host.empty()) return std::nullopt;
  if (hasPort) {
    const std::optional<int> port = ParsePort(portText);
    if (!port) return std::nullopt;
    parts.Port = *port;
  }
  return parts;
}

std::string_view WithoutFinalDot(std::string_view name) {
  name = TrimView(name);
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return name;
}

// What fetch metadata says about who started a request.
enum class TFetchSite { Unknown, Own, OtherSite };

TFetchSite FetchSiteOf(const TIdHeaderList& headers) {
  if (headers.IndexOfName(kFetchSiteHeader) < 0) return TFetchSite::Unknown;
  const std::string site = TrimText(headers.Values(kFetchSiteHeader));
  // "none": the person started it (typed address, bookmark); "same-origin": one of our pages.
  if (EqualTextIgnoreCase(site, "same-origin") || EqualTextIgnoreCase(site, "none"))
    return TFetchSite::Own;
  // "cross-site", "same-site" (a neighbour under the same registrable domain is still another
  // site to us), and any value we do not know.
  return TFetchSite::OtherSite;
}

bool IsTopLevelNavigation(const TIdHeaderList& headers) {
  return EqualTextIgnoreCase(TrimText(headers.Values(kFetchModeHeader)), "navigate") &&
         EqualTextIgnoreCase(TrimText(headers.Values(kFetchDestHeader)), "document");
}

}  // namespace

bool NamesThisMachine(std::string_view host, const THostIdentity& identity,
                      const std::vector<std::string>& extraHosts) {
  const std::optional<THostPort> parts = SplitHostPort(TrimView(host));
  if (!parts) return false;
  const std::string_view name = parts->Host;
  // The user's own names first: one may be an address of a router that forwards to us.
  for (const std::string& extra : extraHosts) {
    if (EqualTextIgnoreCase(name, WithoutFinalDot(extra))) return true;
  }
  if (const std::optional<TIpAddress> address = ParseIpLiteral(name)) {
    return IsLoopbackAddress(*address) ||
           std::find(identity.Addresses.begin(), identity.Addresses.end(), *address) !=
               identity.Addresses.end();
  }
  if (EqualTextIgnoreCase(name, kLocalhost)) return true;
  // Only whole names: comparing the first label alone would let "<host name>.evil.example",
  // which anybody can point at our address, through.
  const std::string& hostName = identity.HostName;
  if (hostName.empty() || name.size() < hostName.size() ||
      !EqualTextIgnoreCase(name.substr(0, hostName.size()), hostName)) {
    return false;
  }
  if (name.size() == hostName.size()) return true;
  if (name[hostName.size()] != '.') return false;
  const std::string_view domain = name.substr(hostName.size() + 1);
  if (EqualTextIgnoreCase(domain, kMulticastDnsDomain)) return true;
  return std::any_of(identity.Domains.begin(), identity.Domains.end(), [&](const std::string& own) {
    return EqualTextIgnoreCase(domain, WithoutFinalDot(own));
  });
}

bool NamesThisMachine(std::string_view host, const std::vector<std::string>& extraHosts) {
  using Clock = std::chrono::steady_clock;
  static std::mutex lock;
  static std::optional<THostIdentity> identity;  // guarded by lock
  static Clock::time_point readAt;               // guarded by lock
  std::lock_guard<std::mutex> guard(lock);
  if (!identity) {
    identity = ReadHostIdentity();
    readAt = Clock::now();
  }
  if (NamesThisMachine(host, *identity, extraHosts)) return true;
  if (Clock::now() - readAt < kIdentityRefreshInterval) return false;
  identity = ReadHostIdentity();
  readAt = Clock::now();
  return NamesThisMachine(host, *identity, extraHosts);
}

bool IsMisdirected(bool hostHeaderSent, std::string_view host,
                   const std::vector<std::string>& extraHosts) {
  // An HTTP/1.0 client may name no host at all; it cannot have been pointed here by a name.
  if (!hostHeaderSent && host.empty()) return false;
  return !NamesThisMachine(host, extraHosts);
}

bool IsSameOrigin(std::string_view origin, std::string_view host) {
  origin = TrimView(origin);
  if (origin.size() <= kHttpScheme.size() ||
      !EqualTextIgnoreCase(origin.substr(0, kHttpScheme.size()), kHttpScheme)) {
    return false;
  }
  std::string_view authority = origin.substr(kHttpScheme.size());
  authority = authority.substr(0, authority.find('/'));
  const std::optional<THostPort> from = SplitHostPort(authority);
  const std::optional<THostPort> to = SplitHostPort(TrimView(host));
  return from && to && from->Port == to->Port && EqualTextIgnoreCase(from->Host, to->Host);
}

bool IsStartedByOtherSite(const TIdHeaderList& headers, std::string_view host, bool plainIndex) {
  const TFetchSite site = FetchSiteOf(headers);
  if (headers.IndexOfName(kOriginHeader) >= 0) {
    const std::string origin = TrimText(headers.Values(kOriginHeader));
    // A browser sends "null" for a sandboxed frame or a data: page of any site; fetch metadata,
    // where the browser sends it, tells our own pages apart.
    if (origin == kNullOrigin) {
      if (site != TFetchSite::Own) return true;
    } else if (!IsSameOrigin(origin, host)) {
      return true;
    }
  }
  // A link or a typed address of another site may open the start page, and nothing else.
  return site == TFetchSite::OtherSite && !(plainIndex && IsTopLevelNavigation(headers));
}

}  // namespace vm
