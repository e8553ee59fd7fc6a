// A scripted socket layer for the engine's tests. It implements the calls of
// sockets.h over in-memory sockets: a test says what each socket has to give
// (bytes, end of stream, would-block), how much each send takes, and which
// calls fail; the layer records what the engine did.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sockets.h"

namespace fake {

struct Socket {
  bool open = true;
  std::string inbound;           // bytes recv hands out, in order
  bool peerClosed = false;       // recv returns 0 once inbound is empty
  int recvError = 0;             // recv fails with this once inbound is empty (0: would-block)
  std::string sent;              // bytes that send took
  long sendRoom = -1;            // bytes send takes before would-block (-1: no limit)
  std::deque<int> sendScript;    // per-call caps: n > 0 takes at most n, n < 0 fails with -n
  std::vector<int> shutdowns;    // `how` of every shutdown call
  bool abortive = false;         // SO_LINGER set to abort at close: the peer sees a reset
  std::vector<int> recvSizes;    // the length asked by every recv that returned data
  std::vector<int> recvResults;  // what every recv returned
  long events = 0;
  win::UINT message = 0;
  int connectPort = -1;
};

// The state of the whole fake layer.
struct Layer {
  std::map<win::SOCKET, Socket> sockets;
  std::deque<win::SOCKET> nextSockets;  // values socket() hands out first
  win::SOCKET counter = 100;            // then these, counting up
  std::deque<win::SOCKET> waitingClients;  // what accept hands out
  bool failSocket = false;
  bool failBind = false;
  int boundPort = -1;
  std::vector<win::SOCKET> closed;  // every closesocket, in order
  std::function<void(win::SOCKET)> onRecv;  // runs at the start of every recv (may throw)
  std::vector<std::string> calls;   // every call on a socket the layer never handed out
};

Layer& layer();
void Reset();

// While above 0, the next fetch of a message on a thread whose sockets the
// fake layer serves throws (and counts down): a failure in the socket layer's
// own work between messages.
extern std::atomic<int> fetchThrows;

}  // namespace fake
