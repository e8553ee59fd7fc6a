#include "notices.h"

#include <cstdio>
#include <mutex>

#include "system_notices.h"

namespace win {
namespace {

struct Handlers {
  std::mutex mutex;
  MessageBoxHandler box;
  BeepHandler beep;
};

// Never destroyed: notice threads may still run while the process exits.
Handlers& handlers() {
  static Handlers* h = new Handlers;
  return *h;
}

}  // namespace

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
  MessageBoxHandler box;
  {
    std::lock_guard lock(handlers().mutex);
    box = handlers().box;
  }
  std::string t = text ? text : "";
  std::string c = caption ? caption : "";
  return box ? box(owner, t, c, type) : SystemMessageBox(owner, t, c, type);
}

BOOL Beep(DWORD frequency, DWORD durationMs) {
  BeepHandler beep;
  {
    std::lock_guard lock(handlers().mutex);
    beep = handlers().beep;
  }
  if (beep)
    beep(frequency, durationMs);
  else
    SystemBeep(frequency, durationMs);
  return TRUE;
}

void SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard lock(handlers().mutex);
  handlers().box = std::move(handler);
}

void SetBeepHandler(BeepHandler handler) {
  std::lock_guard lock(handlers().mutex);
  handlers().beep = std::move(handler);
}

int TerminalMessageBox(HWND, const std::string& text, const std::string& caption, UINT) {
  WriteTerminalLine(caption + ": " + text + "\n");
  return IDOK;
}

void TerminalBeep(DWORD, DWORD) {
  std::fputc('\a', stderr);
  std::fflush(stderr);
}

}  // namespace win
