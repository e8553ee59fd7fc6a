// The host's IPv4 addresses from its adapters, loopback included.
#include <winsock2.h>
#include <iphlpapi.h>

#include <vector>

#include "host_addresses.h"

namespace host {

std::vector<win::u_long> LocalIPv4Addresses() {
  std::vector<win::u_long> addresses;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  // The list's size is asked first; adapters may come between two calls, so
  // a few tries are allowed.
  std::vector<unsigned char> buffer(16 * 1024);
  ULONG size = static_cast<ULONG>(buffer.size());
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    result = ::GetAdaptersAddresses(AF_INET, flags, nullptr, list, &size);
  }
  if (result != NO_ERROR) return addresses;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter; adapter = adapter->Next)
    for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next)
      if (unicast->Address.lpSockaddr && unicast->Address.lpSockaddr->sa_family == AF_INET)
        addresses.push_back(reinterpret_cast<const ::sockaddr_in*>(unicast->Address.lpSockaddr)->sin_addr.s_addr);
  return addresses;
}

}  // namespace host
