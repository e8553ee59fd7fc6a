// What a box and a beep do when no handler is set; each side has its own.
#pragma once

#include <string>

#include "wintypes.h"

namespace win {

int SystemMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);
void SystemBeep(DWORD frequency, DWORD durationMs);

}  // namespace win
