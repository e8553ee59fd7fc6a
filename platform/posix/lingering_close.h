// Closing a socket. A socket closed with bytes still buffered stays open
// until they are written, as after a graceful close on Windows, for as long
// as its peer takes some now and then; one whose peer takes nothing for the
// stalled-close limit is aborted, so that the peer sees a reset rather than
// a short stream that ends cleanly.
#pragma once

#include "socket_table.h"

namespace win::socket_layer {

// Closes the descriptor and forgets the socket.
void CloseNow(Sock& s);
// Keeps the socket, listed as `s`, open until its buffered bytes are written.
void CloseWhenWritten(Sock& sock, SOCKET s);
// Closes the lingering sockets whose bytes have gone and aborts those whose
// peer has stalled.
void FinishLingeringCloses();
// How long the queue may wait before the lingering sockets are looked at
// again; -1 when there are none.
int LingeringCheckWait();
// Makes the calling thread abort its lingering sockets when it ends: nothing
// would serve them any more.
void AbortLingeringWhenThreadEnds();

}  // namespace win::socket_layer
