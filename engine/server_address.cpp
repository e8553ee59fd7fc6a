#include "server_address.h"

#include <algorithm>

#include "host_addresses.h"
#include "sockets.h"

bool IsServerAddress(const std::string& text) {
  // inet_addr takes what comes before a blank and ignores the rest.
  bool blanks = std::any_of(text.begin(), text.end(), [](unsigned char c) { return c <= ' '; });
  return !blanks && win::inet_addr(text.c_str()) != win::INADDR_NONE;
}

bool IsOwnListener(const std::string& address, std::int32_t serverPort, std::int32_t listenPort) {
  if ((serverPort & 0xFFFF) != (listenPort & 0xFFFF)) return false;
  win::u_long server = win::inet_addr(address.c_str());
  if (server == win::INADDR_NONE) return false;
  bool loopback = (win::ntohl(server) >> 24) == 127;
  if (loopback || server == win::htonl(win::INADDR_ANY)) return true;
  auto local = host::LocalIPv4Addresses();
  return std::find(local.begin(), local.end(), server) != local.end();
}
