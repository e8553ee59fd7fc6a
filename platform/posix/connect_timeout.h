// Connects that get no outcome in time. Linux retries a connect's SYNs for
// about two minutes; Windows gives up after 21 s with WSAETIMEDOUT, and so
// does this layer.
#pragma once

#include "socket_table.h"

namespace win::socket_layer {

// Starts the timer of a connect, listed as `s`, that is under way.
void StartConnectTimer(Sock& sock, SOCKET s);
// Fails the connects whose time is up; returns the milliseconds until the
// next deadline (-1 when no connect waits).
int ExpireConnects();

}  // namespace win::socket_layer
