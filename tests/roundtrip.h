// One exchange through a relay on loopback.
#pragma once

#include <string>

// Connects to the port on 127.0.0.1 (trying for up to ten seconds, as a relay
// may still be starting), sends text, ends the sending side and returns what
// comes back before the other side closes; "<no connection>" if none came.
std::string RoundTrip(int port, const std::string& text);
