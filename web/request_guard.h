// Refusals that keep other web sites away from the shares: requests sent under a host name that
// is not this machine's (a name pointed at our address by a foreign page, "DNS rebinding"), and
// requests that a foreign page makes an admitted browser send (cross-site requests).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "http/header_list.h"
#include "platform/host_identity.h"

namespace vm {

// True when a "Host" value ("name", "name:port", "[v6]:port") names this machine, ignoring case
// and one final ".": one of its IP literals (loopback included), "localhost", its host name
// alone, followed by ".local" or by one of its domains, or one of extraHosts.
bool NamesThisMachine(std::string_view host, const THostIdentity& identity,
                      const std::vector<std::string>& extraHosts = {});
// The same against the machine as it is now: the names and addresses are read once and read
// again, at most once a second, when a host is not recognised (an address may have been added).
bool NamesThisMachine(std::string_view host, const std::vector<std::string>& extraHosts);

// True when a request names a host (hostHeaderSent, or an absolute-form target gave host) and
// it is not this machine: a page that pointed its own name at our address sent it.
bool IsMisdirected(bool hostHeaderSent, std::string_view host,
                   const std::vector<std::string>& extraHosts);

// True when an "Origin" value ("http://name:port") is the site that "host" names: same host,
// ignoring case, and same port (80 when not given). Other schemes and "null" never are.
bool IsSameOrigin(std::string_view origin, std::string_view host);

// True when the browser says that a page of another site started the request: an "Origin" that
// is not the site "host" names (any method), or fetch metadata saying "cross-site" or
// "same-site" on anything but a top-level navigation that plainIndex allows (a GET or HEAD of
// the index page without parameters and without a body). "Origin: null" counts as foreign
// unless fetch metadata says the request is the site's own.
bool IsStartedByOtherSite(const TIdHeaderList& headers, std::string_view host, bool plainIndex);

}  // namespace vm
