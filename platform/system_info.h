// Facts about the running program and the host.
#pragma once

#include <string>
#include <vector>

namespace vm {

// Full path of the executable (from /proc/self/exe).
std::string ExecutablePath();
// Folder of the executable, ending in "/".
std::string ProgramFolderOf(const std::string& executablePath);
// First non-loopback IPv4 address of the interfaces, dotted; "127.0.0.1" when there is none.
std::string FindLocalAddress();
// The address to name among addresses (FindLocalAddresses): current while it is one of them, so
// that a link already given out stays good; else the first; "127.0.0.1" when there is none.
std::string ChooseLocalAddress(const std::string& current,
                               const std::vector<std::string>& addresses);
// Every non-loopback IPv4 address of the interfaces that are up (wired, wireless, VPN), dotted,
// each once, in the order of the interfaces: the first is FindLocalAddress's.
std::vector<std::string> FindLocalAddresses();

}  // namespace vm
