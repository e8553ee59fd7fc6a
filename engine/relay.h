// Between the per-connection handlers (relay.cpp) and the thread around them
// (relay_thread.cpp), which owns the engine window and its message loop.
#pragma once

#include "proxy.h"

// The handlers of WM_CLIENT_SOCKET and WM_SERVER_SOCKET.
win::LRESULT OnClientSocketEvent(win::HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam);
win::LRESULT OnServerSocketEvent(win::HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam);

// The engine is stopping: every connection still open is aborted, so that
// neither side takes a stream cut short for a whole one, and the sockets
// being let go of are closed now.
void AbortAllConnections();

// Tells the connect-failed handler (SetConnectFailedHandler), if any.
void ReportConnectFailed(int error);
