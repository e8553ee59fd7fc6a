// How the user stops the headless relay, which differs by system: each side
// turns its own stop requests into RequestRelayStop.
#pragma once

// The usage text's sentence on how to stop the relay.
extern const char* const kStopHint;

// Called in main before the engine starts: from then on each stop request
// asks the engine to stop (a request that comes before the engine starts
// keeps it from starting). On POSIX it also keeps a peer that vanishes
// during a send from ending the process (SIGPIPE).
void StopRelayOnRequest();
