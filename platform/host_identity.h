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
  std::vector<TIpAddress> Addresses;    // every address of every interface
};

// The address an IP literal stands for ("10.0.0.5", "::1", "[::1]"); nothing for other text.
std::optional<TIpAddress> ParseIpLiteral(std::string_view text);
// True for 127.0.0.0/8 and ::1: always this machine, whatever the interfaces say.
bool IsLoopbackAddress(const TIpAddress& address);

// Reads the host name and the interfaces' addresses now.
THostIdentity ReadHostIdentity();

}  // namespace vm
