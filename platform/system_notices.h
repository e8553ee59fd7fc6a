// What a box and a beep do when no handler is set; each side has its own.
#pragma once

#include <string>

#include "wintypes.h"

namespace win {

int SystemMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);
void SystemBeep(DWORD frequency, DWORD durationMs);
// Writes a line of UTF-8 text to stderr: on a Windows console as UTF-16, so
// that it reads right in any code page; elsewhere as it is.
void WriteTerminalLine(const std::string& line);

}  // namespace win
