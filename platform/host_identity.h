// The names and addresses by which this machine can be reached.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vm {

// An IPv4 or IPv6 address in network byte order; IPv4 is kept in its IPv4-mapped IPv6 form so
// that "::ffff:10.0.0.5" and "10.0.0.5" compare equal.
using TIpAddress = std::array<uint8_t, 16>;

struct THostIdentity {
  std::string HostName;                 // the machine's host name, first label only
  std::vector<std::string> Domains;     // domains the machine gives itself, without final "."
  std::vector<TIpAddress> Addresses;    // every address of every interface
};

// The address an IP literal stands for ("10.0.0.5", "::1", "[::1]"); nothing for other text.
std::optional<TIpAddress> ParseIpLiteral(std::string_view text);
// True for 127.0.0.0/8 and ::1: always this machine, whatever the interfaces say.
bool IsLoopbackAddress(const TIpAddress& address);

// The domains named by the "domain" and "search" lines of a resolv.conf text, in order.
std::vector<std::string> ResolvConfDomains(std::string_view text);
// The domains of hostName's fully qualified names in a hosts-file text: the part after
// hostName + "." of every name on a line that also names the host ("10.0.0.5 pc.lan pc").
std::vector<std::string> HostsFileDomains(std::string_view text, std::string_view hostName);

// Reads the host name, its domains (the host name's own, /etc/hosts, /etc/resolv.conf) and the
// interfaces' addresses now. Reads only local files and the kernel: never the network.
THostIdentity ReadHostIdentity();

}  // namespace vm
