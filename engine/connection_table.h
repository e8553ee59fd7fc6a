// What the engine holds, inside the engine: the records' index by server
// socket, and the sockets of relayed connections from their opening to their
// close. Everything here runs on RelayThread only, except the counters that
// proxy.h makes readable from any thread.
#pragma once

#include <cstdint>

#include "proxy.h"

// The record of a client socket, created with the defaults when absent.
CLIENT_DATA& Entry(std::int32_t clientSocket);

// A socket the engine is done with is closed only once every message already
// queued for it has come by: its events are cancelled at once, and a message
// of the engine's own, queued behind them, closes it. Until then its value
// cannot be handed to a new socket, so a late event never reaches a
// successor; the late events themselves are ignored.
constexpr win::UINT WM_CLOSE_RETIRED = win::WM_USER + 20;

// Every socket of a relayed connection is opened through here and closed
// through RetireSocket, so that OpenConnectionSockets can tell what the
// engine holds. Returns `s`.
win::SOCKET OpenConnectionSocket(win::SOCKET s);
// Closes the socket once its queued messages have come by. An aborted
// connection ends with a reset, so that the peer sees an error rather than a
// clean end of a stream that was cut short.
void RetireSocket(win::SOCKET s, bool abort);
// WM_CLOSE_RETIRED: closes a retired socket (once).
void CloseRetired(win::SOCKET s);
// Closes every retired socket now: the engine is stopping.
void CloseAllRetired();
bool IsRetiring(win::SOCKET s);

// Forgets every record and socket (ResetEngineState).
void ClearConnectionTable();
