// The start command of the main window, shared by the Qt and the Win32
// window: it checks the three fields, hands them to the engine and starts
// the engine thread, or shows the error box.
//
// The values the relay cannot work with are refused with the error box, as
// a port text that does not convert is: a port outside 1..65535, a server
// address in which inet_addr finds no IPv4 address, and the relay's own
// incoming port on this machine (it would connect to itself until it runs
// out of descriptors). Settings already copied when a check fails stay
// copied; nothing is started.
#pragma once

#include <functional>
#include <string>

// Returns true when the engine thread was started; false after the box,
// which is owned by `owner`, the form's window (an HWND): modal to it, so
// that the form takes no second start while it is open. On Qt a box shown
// on the window's thread is modal to the application's active window, the
// form whose button was pressed: the Qt form has no handle and passes null.
bool RunStartCommand(void* owner, const std::string& listenPort, const std::string& serverAddress,
                     const std::string& serverPort);

// Called on the engine thread when a started engine could not listen and
// has ended (its notices closed): the window may offer the start again.
void SetRelayStartFailedHandler(std::function<void()> handler);

// Stops a started engine and waits for its thread; returns at once when none
// runs. For the program's end.
void StopStartedRelay();
