// Running out of descriptors. Every socket is a descriptor here, so the
// layer takes as many as the system allows, keeps one in reserve for the
// socket that carries an accepted client on, and has a listener whose accept
// found none left try again later rather than lose its clients.
#pragma once

#include "socket_table.h"

namespace win::socket_layer {

// The usual soft limit of 1024 would stop a relay at about 500 connections
// where Windows allows thousands: takes what the hard limit allows.
void RaiseDescriptorLimit();

// Whether an errno value says that no descriptor is left.
bool OutOfDescriptors(int e);

// Holds the reserve descriptor; false when none could be had, and accept
// should then take no client.
bool HoldReserve();
// Gives the reserve up for a socket; false when none was held.
bool ReleaseReserve();

// A listener whose accept ran out of descriptors waits until one is freed,
// or until its retry interval has passed.
void MarkStarved(Sock& listener);
// A closed socket is no longer a starved listener.
void ForgetStarved(Sock& s);
// Lets the starved listeners accept again.
void WakeStarvedListeners();
// How long the queue may wait before the starved listeners try again; -1
// when there are none. The retry itself runs when its time has come.
int StarvedRetryWait();

}  // namespace win::socket_layer
