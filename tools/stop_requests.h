// How the user stops the headless relay, which differs by system: each side
// turns its own stop requests into RequestRelayStop.
#pragma once

// The usage text's sentence on how to stop the relay.
extern const char* const kStopHint;

// Called first thing in main: readies the process for stop requests (and,
// on POSIX, for peers that vanish while a send is under way).
void PrepareForStopRequests();

// From now on, each stop request asks the engine to stop.
void StopRelayOnRequest();
