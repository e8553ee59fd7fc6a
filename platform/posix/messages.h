// Hidden windows and a per-thread message queue, shaped like the Windows
// calls of the same names. A window belongs to the thread that created it;
// PostMessageA from any thread queues to that thread, GetMessageA waits for
// the next message of the calling thread.
//
// The queue waits in epoll, so other parts of the platform layer (the socket
// layer) can add descriptors to the same wait and queue messages when they
// become ready.
#pragma once

#include <cstdint>
#include <functional>

#include "wintypes.h"

namespace win {

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct POINT {
  long x;
  long y;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  void* hIcon;
  void* hCursor;
  HBRUSH hbrBackground;
  const char* lpszMenuName;
  const char* lpszClassName;
};

constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr UINT CS_DBLCLKS = 0x0008;
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);
constexpr int SW_HIDE = 0;
constexpr int COLOR_WINDOW = 5;
// The parent of a window that only receives messages; such a window needs no
// desktop. Every window is of that kind here.
inline const HWND HWND_MESSAGE = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-3));

ATOM RegisterClassA(const WNDCLASSA* wc);
BOOL UnregisterClassA(const char* className, HINSTANCE instance);
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, void* menu, HINSTANCE instance,
                     void* param);
// Sends WM_DESTROY to the window's procedure; afterwards messages to the
// window are dropped and posts to it fail. Only on the window's own thread.
BOOL DestroyWindow(HWND hwnd);
BOOL ShowWindow(HWND hwnd, int cmdShow);
BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;
// Like GetMessageA without waiting: FALSE when no message is ready. Only
// PM_REMOVE is supported.
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMessage);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
HINSTANCE GetModuleHandleA(const char* moduleName);

// --- Hooks for the rest of the platform layer (not Windows calls) ---

// Something that waits in the calling thread's epoll set.
class WaitSource {
 public:
  virtual ~WaitSource() = default;
  // Called on the queue's thread with the epoll event bits.
  virtual void OnReady(std::uint32_t events) = 0;
};

// The epoll descriptor of the calling thread's queue, created on first use.
int QueueEpollFd();

// A message that carries a tag is checked at fetch time by the tag checker;
// when the checker says it is stale, the message is dropped unseen. The
// socket layer uses it to drop the events of a socket closed in between.
BOOL PostTaggedMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, std::uint64_t tag);
// The same, from the queue's own thread, for a message that is to wait
// behind whatever the next look at the descriptors finds: the socket layer
// posts a busy socket's further reads this way, so that a quiet socket that
// became ready meanwhile is served first.
void PostTaggedMessageAfterPoll(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, std::uint64_t tag);
using TagChecker = bool (*)(WPARAM wParam, std::uint64_t tag);
void SetTagChecker(TagChecker checker);

// Work the calling thread's queue does before each fetch (after each dispatch):
// the socket layer writes out what handlers sent and posts deferred events.
// The hook returns how long the fetch may wait, in milliseconds (-1: no limit).
using FetchHook = std::function<int()>;
void AddFetchHook(FetchHook hook);

}  // namespace win
