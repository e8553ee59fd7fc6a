// Without a handler, notices are the system's boxes and beeps. This file
// reads the system's header before ours, so that it sees the system's
// Beep under its own name. The box's texts go to Windows as UTF-16.
#include <windows.h>

#include <cstdio>

#include "system_notices.h"
#include "utf16.h"

namespace win {

int SystemMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  return ::MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), type);
}

void SystemBeep(DWORD frequency, DWORD durationMs) { ::Beep(frequency, durationMs); }

void WriteTerminalLine(const std::string& line) {
  std::fflush(stderr);
  HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(console, &mode)) {
    const std::wstring wide = Widen(line);
    WriteConsoleW(console, wide.c_str(), DWORD(wide.size()), &written, nullptr);
  } else {
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
  }
}

}  // namespace win
