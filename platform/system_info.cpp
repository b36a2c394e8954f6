#include "platform/system_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace vm {

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return "";
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);  // the link may have been cut: read it again, larger
  }
}

std::string ProgramFolderOf(const std::string& executablePath) {
  size_t slash = executablePath.rfind('/');
  // /proc/self/exe is always absolute; a bare name means the current folder.
  if (slash == std::string::npos) return "./";
  return executablePath.substr(0, slash + 1);
}

std::string FindLocalAddress() { return ChooseLocalAddress("", FindLocalAddresses()); }

std::string ChooseLocalAddress(const std::string& current,
                               const std::vector<std::string>& addresses) {
  if (std::find(addresses.begin(), addresses.end(), current) != addresses.end()) return current;
  return addresses.empty() ? "127.0.0.1" : addresses.front();
}

std::vector<std::string> FindLocalAddresses() {
  std::vector<std::string> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    if ((entry->ifa_flags & IFF_LOOPBACK) || !(entry->ifa_flags & IFF_UP)) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) continue;
    // One address may sit on several interfaces (a bridge and its port).
    if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
      addresses.emplace_back(text);
    }
  }
  freeifaddrs(list);
  return addresses;
}

}  // namespace vm
