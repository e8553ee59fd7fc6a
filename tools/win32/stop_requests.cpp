// Ctrl+C, Ctrl+Break and closing the console stop the relay.
#include "stop_requests.h"

#include "proxy.h"

const char* const kStopHint =
    "Ctrl+C, Ctrl+Break or closing the\n"
    "console stops the relay (status 0)";

namespace {

// Runs on a thread of the system's. For a closing console, a logoff or a
// shutdown the system ends the process as soon as this returns, so it waits
// for main to finish the stop and end the process itself (main's return ends
// this thread too); the system allows a few seconds.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  RequestRelayStop();
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) ::Sleep(4000);
  return TRUE;
}

}  // namespace

// A program started in a process group of its own, or by one that ignores
// Ctrl+C, ignores it too unless it asks for it back.
void StopRelayOnRequest() {
  ::SetConsoleCtrlHandler(nullptr, FALSE);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
