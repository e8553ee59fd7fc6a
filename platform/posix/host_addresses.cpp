#include "host_addresses.h"

#include <ifaddrs.h>
#include <netinet/in.h>

namespace host {

std::vector<win::u_long> LocalIPv4Addresses() {
  std::vector<win::u_long> addresses;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return addresses;
  for (ifaddrs* i = list; i; i = i->ifa_next)
    if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET)
      addresses.push_back(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
  ::freeifaddrs(list);
  return addresses;
}

}  // namespace host
