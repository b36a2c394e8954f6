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

}  // namespace

bool NamesThisMachine(std::string_view host, const THostIdentity& identity) {
  const std::optional<THostPort> parts = SplitHostPort(TrimView(host));
  if (!parts) return false;
  if (const std::optional<TIpAddress> address = ParseIpLiteral(parts->Host)) {
    return IsLoopbackAddress(*address) ||
           std::find(identity.Addresses.begin(), identity.Addresses.end(), *address) !=
               identity.Addresses.end();
  }
  if (EqualTextIgnoreCase(parts->Host, kLocalhost)) return true;
  const std::string_view firstLabel = parts->Host.substr(0, parts->Host.find('.'));
  return !identity.HostName.empty() && EqualTextIgnoreCase(firstLabel, identity.HostName);
}

bool NamesThisMachine(std::string_view host) {
  using Clock = std::chrono::steady_clock;
  static std::mutex lock;
  static std::optional<THostIdentity> identity;  // guarded by lock
  static Clock::time_point readAt;               // guarded by lock
  std::lock_guard<std::mutex> guard(lock);
  if (!identity) {
    identity = ReadHostIdentity();
    readAt = Clock::now();
  }
  if (NamesThisMachine(host, *identity)) return true;
  if (Clock::now() - readAt < kIdentityRefreshInterval) return false;
  identity = ReadHostIdentity();
  readAt = Clock::now();
  return NamesThisMachine(host, *identity);
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

}  // namespace vm
