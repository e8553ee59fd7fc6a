// No system boxes here: without a handler, notices go to the terminal.
#include "system_notices.h"

#include "notices.h"

namespace win {

int SystemMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  return TerminalMessageBox(owner, text, caption, type);
}

void SystemBeep(DWORD frequency, DWORD durationMs) { TerminalBeep(frequency, durationMs); }

}  // namespace win
