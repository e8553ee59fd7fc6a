#include "server_address.h"

#include <algorithm>

#include "host_addresses.h"
#include "sockets.h"

bool IsServerAddress(const std::string& text) { return win::inet_addr(text.c_str()) != win::INADDR_NONE; }

bool IsOwnListener(const std::string& address, std::int32_t serverPort, std::int32_t listenPort) {
  if ((serverPort & 0xFFFF) != (listenPort & 0xFFFF)) return false;
  win::u_long server = win::inet_addr(address.c_str());
  if (server == win::INADDR_NONE) return false;
  bool loopback = (win::ntohl(server) >> 24) == 127;
  if (loopback || server == win::htonl(win::INADDR_ANY)) return true;
  auto local = host::LocalIPv4Addresses();
  return std::find(local.begin(), local.end(), server) != local.end();
}
