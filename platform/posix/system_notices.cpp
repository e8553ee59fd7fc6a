// No system boxes here: without a handler, notices go to the terminal.
#include "system_notices.h"

#include <cstdio>

#include "notices.h"

namespace win {

int SystemMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  return TerminalMessageBox(owner, text, caption, type);
}

void SystemBeep(DWORD frequency, DWORD durationMs) { TerminalBeep(frequency, durationMs); }

void WriteTerminalLine(const std::string& line) {
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace win
