#include "platform/host_identity.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace vm {

namespace {

constexpr TIpAddress kIpv4MappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
constexpr uint8_t kLoopbackNet = 127;

TIpAddress FromIpv4(const in_addr& in) {
  TIpAddress address = kIpv4MappedPrefix;
  std::memcpy(address.data() + 12, &in.s_addr, 4);
  return address;
}

TIpAddress FromIpv6(const in6_addr& in6) {
  TIpAddress address{};
  std::memcpy(address.data(), in6.s6_addr, address.size());
  return address;
}

}  // namespace

std::optional<TIpAddress> ParseIpLiteral(std::string_view text) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  // Longest textual form of an IPv6 address (with an embedded IPv4 part) is 45 characters.
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
  const std::string zeroEnded(text);
  in_addr in{};
  if (inet_pton(AF_INET, zeroEnded.c_str(), &in) == 1) return FromIpv4(in);
  in6_addr in6{};
  if (inet_pton(AF_INET6, zeroEnded.c_str(), &in6) == 1) return FromIpv6(in6);
  return std::nullopt;
}

bool IsLoopbackAddress(const TIpAddress& address) {
  if (std::equal(kIpv4MappedPrefix.begin(), kIpv4MappedPrefix.begin() + 12, address.begin())) {
    return address[12] == kLoopbackNet;
  }
  TIpAddress ipv6Loopback{};
  ipv6Loopback[15] = 1;
  return address == ipv6Loopback;
}

THostIdentity ReadHostIdentity() {
  THostIdentity identity;
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) == 0) {
    identity.HostName = name;
    identity.HostName.erase(std::min(identity.HostName.find('.'), identity.HostName.size()));
  }
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return identity;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr) continue;
    if (entry->ifa_addr->sa_family == AF_INET) {
      identity.Addresses.push_back(
          FromIpv4(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr));
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      identity.Addresses.push_back(
          FromIpv6(reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr));
    }
  }
  freeifaddrs(list);
  return identity;
}

}  // namespace vm
