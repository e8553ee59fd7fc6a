// Message boxes and the beep. Both go to a replaceable handler: the window
// shows real boxes, the headless relay prints to the terminal, tests record.
#pragma once

#include <functional>
#include <string>

#include "wintypes.h"

namespace win {

constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_ICONERROR = 0x0010;
constexpr UINT MB_ICONWARNING = 0x0030;
constexpr UINT MB_ICONINFORMATION = 0x0040;
constexpr UINT MB_SYSTEMMODAL = 0x1000;
constexpr int IDOK = 1;

// Shows a box and returns when it is closed, with the button pressed.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
// Sounds a tone and returns when it is done.
BOOL Beep(DWORD frequency, DWORD durationMs);

using MessageBoxHandler =
    std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT type)>;
using BeepHandler = std::function<void(DWORD frequency, DWORD durationMs)>;

// Replace the handlers; an empty function restores the terminal default
// ("caption: text" on stderr, and the terminal bell).
void SetMessageBoxHandler(MessageBoxHandler handler);
void SetBeepHandler(BeepHandler handler);

}  // namespace win
