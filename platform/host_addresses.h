// The IPv4 addresses of this host's network interfaces, loopback included.
#pragma once

#include <vector>

#include "wintypes.h"

namespace host {

// Each in network byte order, as inet_addr gives them; empty when the
// system does not say.
std::vector<win::u_long> LocalIPv4Addresses();

}  // namespace host
