// Message boxes and the beep. Both go to a replaceable handler: the window
// shows real boxes, the headless relay prints to the terminal, tests record.
// Without a handler they go to the system's own: real boxes and the speaker
// on Windows, the terminal elsewhere.
//
// ShowMessageAsync shows a box without waiting for it: the engine tells what
// went wrong and goes on relaying while the box is open.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "wintypes.h"

namespace win {

// Shows a box and returns when it is closed, with the button pressed.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
// Sounds a tone and returns when it is done.
BOOL Beep(DWORD frequency, DWORD durationMs);

using MessageBoxHandler =
    std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT type)>;
using BeepHandler = std::function<void(DWORD frequency, DWORD durationMs)>;

// Replace the handlers; an empty function restores the system's own.
void SetMessageBoxHandler(MessageBoxHandler handler);
void SetBeepHandler(BeepHandler handler);

// The terminal's handlers: "caption: text" on stderr (the box counts as
// closed with OK at once), and the terminal bell.
int TerminalMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);
void TerminalBeep(DWORD frequency, DWORD durationMs);

}  // namespace win

// Shows a system-modal box on a thread of its own and returns at once.
void ShowMessageAsync(const char* text, const char* caption, win::UINT style);
// How many notices have been asked for so far. A notice's box appears later,
// on a thread of its own; this counts it at once.
std::size_t NoticesAsked();
