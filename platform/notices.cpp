#include "notices.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

#include "system_notices.h"
#include "threads.h"

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

namespace {

// The notice's own copies of its texts: the caller's may be gone by the time
// the box shows.
struct Notice {
  std::string text;
  std::string caption;
  win::UINT style;
};

win::DWORD NoticeThread(void* parameter) {
  std::unique_ptr<Notice> notice(static_cast<Notice*>(parameter));
  win::MessageBoxA(nullptr, notice->text.c_str(), notice->caption.c_str(), notice->style | win::MB_SYSTEMMODAL);
  return 0;
}

std::atomic<std::size_t> noticesAsked{0};

}  // namespace

std::size_t NoticesAsked() { return noticesAsked.load(); }

void ShowMessageAsync(const char* text, const char* caption, win::UINT style) {
  ++noticesAsked;
  auto notice = std::make_unique<Notice>(Notice{text, caption, style});
  win::HANDLE thread = win::CreateThread(nullptr, 0, NoticeThread, notice.get(), 0, nullptr);
  if (!thread) return;
  notice.release();  // the thread owns it now
  win::CloseHandle(thread);
}
