// The write side: buffered bytes go to the kernel after each dispatched
// message. While more bytes are on their way, the short tail of a write is
// held back for a few rounds (one round per dispatched message), to leave
// with them rather than as a segment of its own.
#pragma once

#include "socket_table.h"

namespace win::socket_layer {

// Hands buffered bytes to the kernel until it takes no more. Unless `whole`,
// only whole segments go: with Nagle off, the short rest of a large write
// would leave as a segment of its own, and when more bytes are about to
// follow it is cheaper to send it along with them.
void WriteOut(Sock& s, bool whole = true);
// Writes what the socket has buffered, holding back a short tail while more
// bytes are on their way.
void WriteOrHold(Sock& s);
// Posts the FD_WRITE a socket is owed once its buffer has drained.
void PostWriteSide(Sock& s);

// A read of the current message used up its budget: more bytes are waiting,
// and what they bring will be written soon after.
void ExpectMoreBytes();
// Ends a round: a tail that has waited its rounds goes out now.
void FlushHeldTails();
bool HoldingTails();

}  // namespace win::socket_layer
