#include "platform/host_identity.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>

#include "platform/sjis.h"

namespace vm {

namespace {

constexpr TIpAddress kIpv4MappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
constexpr uint8_t kLoopbackNet = 127;
constexpr char kResolvConfPath[] = "/etc/resolv.conf";
constexpr char kHostsPath[] = "/etc/hosts";
// Both files are a few hundred bytes; a larger one is read only this far, so that a
// mistaken or hostile file cannot make every refresh of the identity expensive.
constexpr std::streamsize kConfigReadLimit = 64 * 1024;

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

std::string ReadSmallFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::string text(static_cast<size_t>(kConfigReadLimit), '\0');
  in.read(text.data(), kConfigReadLimit);
  text.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The whitespace-separated words of one line, up to a comment.
std::vector<std::string_view> Words(std::string_view line) {
  line = line.substr(0, line.find('#'));
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    const size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// Calls visit with the words of every line of text.
template <typename TVisit>
void ForEachLine(std::string_view text, TVisit visit) {
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    visit(Words(text.substr(0, end)));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
}

// Adds a domain once, without its final "."; the root domain alone adds nothing.
void AddDomain(std::vector<std::string>& domains, std::string_view domain) {
  if (!domain.empty() && domain.back() == '.') domain.remove_suffix(1);
  if (domain.empty()) return;
  for (const std::string& known : domains) {
    if (EqualTextIgnoreCase(known, domain)) return;
  }
  domains.emplace_back(domain);
}

}  // namespace

std::vector<std::string> ResolvConfDomains(std::string_view text) {
  std::vector<std::string> domains;
  ForEachLine(text, [&](const std::vector<std::string_view>& words) {
    // A line commented out with ";" starts with another word, and is passed over like it.
    if (words.size() < 2 || (words[0] != "domain" && words[0] != "search")) return;
    for (size_t i = 1; i < words.size(); ++i) AddDomain(domains, words[i]);
  });
  return domains;
}

std::vector<std::string> HostsFileDomains(std::string_view text, std::string_view hostName) {
  std::vector<std::string> domains;
  if (hostName.empty()) return domains;
  const auto domainOf = [&](std::string_view name) -> std::optional<std::string_view> {
    if (name.size() <= hostName.size() + 1 || name[hostName.size()] != '.' ||
        !EqualTextIgnoreCase(name.substr(0, hostName.size()), hostName)) {
      return std::nullopt;
    }
    return name.substr(hostName.size() + 1);
  };
  ForEachLine(text, [&](const std::vector<std::string_view>& words) {
    bool namesHost = false;
    for (size_t i = 1; i < words.size(); ++i) {
      namesHost = namesHost || EqualTextIgnoreCase(words[i], hostName) || domainOf(words[i]);
    }
    if (!namesHost) return;
    for (size_t i = 1; i < words.size(); ++i) {
      if (const std::optional<std::string_view> domain = domainOf(words[i])) {
        AddDomain(domains, *domain);
      }
    }
  });
  return domains;
}

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
    const std::string_view full = name;
    const size_t dot = std::min(full.find('.'), full.size());
    identity.HostName = full.substr(0, dot);
    if (dot < full.size()) AddDomain(identity.Domains, full.substr(dot + 1));
  }
  for (const std::string& domain : HostsFileDomains(ReadSmallFile(kHostsPath), identity.HostName))
    AddDomain(identity.Domains, domain);
  for (const std::string& domain : ResolvConfDomains(ReadSmallFile(kResolvConfPath)))
    AddDomain(identity.Domains, domain);
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
