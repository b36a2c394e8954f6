// Refusals that keep other web sites away from the shares: requests sent under a host name that
// is not this machine's (a name pointed at our address by a foreign page, "DNS rebinding"), and
// posts that a foreign page makes an admitted browser send (cross-site requests).
#pragma once

#include <string_view>

#include "platform/host_identity.h"

namespace vm {

// True when a "Host" value ("name", "name:port", "[v6]:port") names this machine: one of its
// IP literals (loopback included), "localhost", or its host name alone or followed by a domain.
bool NamesThisMachine(std::string_view host, const THostIdentity& identity);
// The same against the machine as it is now: the names and addresses are read once and read
// again, at most once a second, when a host is not recognised (an address may have been added).
bool NamesThisMachine(std::string_view host);

// True when an "Origin" value ("http://name:port") is the site that "host" names: same host,
// ignoring case, and same port (80 when not given). Other schemes and "null" never are.
bool IsSameOrigin(std::string_view origin, std::string_view host);

}  // namespace vm
