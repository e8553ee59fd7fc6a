// Without a handler, notices are the system's boxes and beeps. This file
// reads the system's header before ours, so that it sees the system's
// MessageBoxA and Beep under their own names.
#include <windows.h>

#include "system_notices.h"

namespace win {

int SystemMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  return ::MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

void SystemBeep(DWORD frequency, DWORD durationMs) { ::Beep(frequency, durationMs); }

}  // namespace win
