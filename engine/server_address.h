// Checks of the server a relay is told to connect to, made before it starts:
// the window's start command and the headless relay refuse what fails them.
#pragma once

#include <cstdint>
#include <string>

// Whether `text` is an IPv4 address that inet_addr reads, and nothing else:
// a blank or control character anywhere refuses it, as a port's text with
// anything after its digits is refused (inet_addr would ignore what follows
// a blank). Its failure value also stands for 255.255.255.255, a broadcast
// address that no TCP server has, so that text is refused too.
bool IsServerAddress(const std::string& text);

// Whether connections to address:serverPort would come back to this relay's
// own listener on listenPort (only the low 16 bits of a port count): the
// same port on a loopback address, on 0.0.0.0 or on one of this host's
// addresses. Such a relay would connect to itself until it ran out of
// descriptors.
bool IsOwnListener(const std::string& address, std::int32_t serverPort, std::int32_t listenPort);
