// The addresses a browser on the local network can open: one URL per address of this machine,
// and one by the name announced on the network.
#pragma once

#include <string>
#include <vector>

#include "state/main_state.h"

namespace vm {

struct TServedUrls {
  // By IP address: the base URL first (the designed one), then each other address, once.
  std::vector<std::string> ByAddress;
  // By the announced name ("http://pc.local:8080/velmarind/"); empty while none is announced.
  std::string ByName;
};

// The URLs under the state's settings (base URL, port) and network name; addresses: this
// machine's IPv4 addresses now (FindLocalAddresses).
TServedUrls MakeServedUrls(const TMainState& state, const std::vector<std::string>& addresses);

}  // namespace vm
