#include "messages.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace win {

struct ThreadQueue;

// A window stays allocated for the life of the process (a few bytes), so
// that a handle kept after DestroyWindow or after its thread ended is safe to
// post to: the post fails. It refers to its queue weakly: the queue goes when
// its thread ends.
struct WindowObject {
  WNDPROC proc;
  std::weak_ptr<ThreadQueue> queue;
  ThreadQueue* owner;
  std::atomic<bool> destroyed{false};
};

namespace {

struct QueuedMessage {
  MSG msg;
  std::uint64_t tag;  // 0: untagged
};

// The eventfd that wakes a waiting thread when another thread posts.
class WakeSource : public WaitSource {
 public:
  int fd = -1;
  void OnReady(std::uint32_t) override {
    std::uint64_t count;
    while (::read(fd, &count, sizeof count) > 0) {
    }
  }
};

TagChecker& tagChecker() {
  static TagChecker checker = nullptr;
  return checker;
}

}  // namespace

struct ThreadQueue {
  std::mutex mutex;
  std::deque<QueuedMessage> posted;
  // Messages that wait behind whatever the next look at the descriptors
  // finds, and whether such a look is still owed. Otherwise the descriptors
  // are looked at only once every posted message has been served, so each
  // look gathers all that became ready meanwhile, as a plain epoll loop does.
  std::deque<QueuedMessage> afterPoll;
  bool pollOwed = false;
  bool quitPosted = false;
  int quitCode = 0;
  std::thread::id owner = std::this_thread::get_id();
  int epollFd = -1;
  WakeSource wake;
  std::vector<FetchHook> hooks;
  std::map<std::string, WNDCLASSA> classes;

  ThreadQueue() {
    epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    wake.fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = static_cast<WaitSource*>(&wake);
    ::epoll_ctl(epollFd, EPOLL_CTL_ADD, wake.fd, &ev);
  }
  ~ThreadQueue() {
    ::close(wake.fd);
    ::close(epollFd);
  }

  void Post(const QueuedMessage& m) {
    bool otherThread;
    {
      std::lock_guard lock(mutex);
      posted.push_back(m);
      otherThread = std::this_thread::get_id() != owner;
    }
    if (otherThread) {
      std::uint64_t one = 1;
      [[maybe_unused]] auto n = ::write(wake.fd, &one, sizeof one);
    }
  }

  void PostAfterPoll(const QueuedMessage& m) {
    std::lock_guard lock(mutex);
    afterPoll.push_back(m);
    pollOwed = true;
  }

  // Takes the next live message, the ordinary ones first; false when none
  // is waiting.
  bool TakeNext(MSG* out) {
    std::lock_guard lock(mutex);
    return TakeLive(posted, out) || TakeLive(afterPoll, out);
  }

  static bool TakeLive(std::deque<QueuedMessage>& from, MSG* out) {
    while (!from.empty()) {
      QueuedMessage m = from.front();
      from.pop_front();
      if (m.tag != 0 && tagChecker() && !tagChecker()(m.msg.wParam, m.tag)) continue;
      *out = m.msg;
      return true;
    }
    return false;
  }

  bool TakeQuit(MSG* out) {
    std::lock_guard lock(mutex);
    if (!quitPosted) return false;
    quitPosted = false;
    *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode), 0, 0, {0, 0}};
    return true;
  }

  int RunHooks() {
    int timeout = -1;
    for (std::size_t i = 0; i < hooks.size(); ++i) {
      int t = hooks[i]();
      if (t >= 0 && (timeout < 0 || t < timeout)) timeout = t;
    }
    return timeout;
  }

  void Wait(int timeoutMs) {
    epoll_event events[64];
    int n = ::epoll_wait(epollFd, events, 64, timeoutMs);
    pollOwed = false;
    for (int i = 0; i < n; ++i) static_cast<WaitSource*>(events[i].data.ptr)->OnReady(events[i].events);
  }
};

namespace {

thread_local std::shared_ptr<ThreadQueue> currentQueue;

ThreadQueue& queue() {
  if (!currentQueue) currentQueue = std::make_shared<ThreadQueue>();
  return *currentQueue;
}

}  // namespace

ATOM RegisterClassA(const WNDCLASSA* wc) {
  if (!wc || !wc->lpszClassName || !wc->lpfnWndProc) return 0;
  auto [it, inserted] = queue().classes.emplace(wc->lpszClassName, *wc);
  if (!inserted) return 0;
  return static_cast<ATOM>(0xC000 + queue().classes.size());
}

namespace {

// Every window made, kept for the life of the process (see WindowObject).
void KeepWindow(WindowObject* window) {
  static std::mutex mutex;
  static auto* windows = new std::vector<std::unique_ptr<WindowObject>>;
  std::lock_guard lock(mutex);
  windows->emplace_back(window);
}

}  // namespace

BOOL UnregisterClassA(const char* className, HINSTANCE) {
  return className && queue().classes.erase(className) ? TRUE : FALSE;
}

HWND CreateWindowExA(DWORD, const char* className, const char*, DWORD, int, int, int, int, HWND, void*,
                     HINSTANCE, void*) {
  ThreadQueue& q = queue();
  auto it = className ? q.classes.find(className) : q.classes.end();
  if (it == q.classes.end()) return nullptr;
  auto* window = new WindowObject;
  window->proc = it->second.lpfnWndProc;
  window->queue = currentQueue;
  window->owner = currentQueue.get();
  KeepWindow(window);
  return window;
}

BOOL DestroyWindow(HWND hwnd) {
  if (!hwnd || hwnd->destroyed || hwnd->owner != currentQueue.get()) return FALSE;
  hwnd->proc(hwnd, WM_DESTROY, 0, 0);
  hwnd->destroyed = true;
  return TRUE;
}

BOOL ShowWindow(HWND, int) { return FALSE; }  // hidden windows have nothing to show

BOOL GetMessageA(MSG* msg, HWND, UINT, UINT) {
  ThreadQueue& q = queue();
  for (;;) {
    int timeout = q.RunHooks();
    // A busy connection re-posts its reads to wait for the next look, so
    // it cannot starve the rest: that look comes first.
    if (q.pollOwed) q.Wait(0);
    if (q.TakeNext(msg)) return TRUE;
    if (q.TakeQuit(msg)) return FALSE;
    q.Wait(timeout);
  }
}

BOOL PeekMessageA(MSG* msg, HWND, UINT, UINT, UINT) {
  ThreadQueue& q = queue();
  q.RunHooks();
  if (q.pollOwed) q.Wait(0);
  if (q.TakeNext(msg) || q.TakeQuit(msg)) return TRUE;
  q.Wait(0);
  q.RunHooks();
  return q.TakeNext(msg) || q.TakeQuit(msg);
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg->hwnd || msg->hwnd->destroyed) return 0;
  return msg->hwnd->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

void PostQuitMessage(int exitCode) {
  ThreadQueue& q = queue();
  std::lock_guard lock(q.mutex);
  q.quitPosted = true;
  q.quitCode = exitCode;
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostTaggedMessage(hwnd, message, wParam, lParam, 0);
}

namespace {

// Runs `post` on the queue of the window (or of the calling thread, for no
// window); FALSE when the window or its thread is gone. A window of the
// calling thread needs no lock of its queue.
template <typename Post>
BOOL WithWindowQueue(HWND hwnd, Post post) {
  if (!hwnd) {
    post(queue());
    return TRUE;
  }
  if (hwnd->destroyed) return FALSE;
  if (hwnd->owner == currentQueue.get()) {
    post(*currentQueue);
    return TRUE;
  }
  std::shared_ptr<ThreadQueue> q = hwnd->queue.lock();
  if (!q) return FALSE;
  post(*q);
  return TRUE;
}

}  // namespace

BOOL PostTaggedMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, std::uint64_t tag) {
  return WithWindowQueue(hwnd, [&](ThreadQueue& q) {
    q.Post(QueuedMessage{MSG{hwnd, message, wParam, lParam, 0, {0, 0}}, tag});
  });
}

void PostTaggedMessageAfterPoll(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, std::uint64_t tag) {
  WithWindowQueue(hwnd, [&](ThreadQueue& q) {
    q.PostAfterPoll(QueuedMessage{MSG{hwnd, message, wParam, lParam, 0, {0, 0}}, tag});
  });
}

HINSTANCE GetModuleHandleA(const char*) {
  static char module;
  return &module;
}

int QueueEpollFd() { return queue().epollFd; }

void SetTagChecker(TagChecker checker) { tagChecker() = checker; }

void AddFetchHook(FetchHook hook) { queue().hooks.push_back(std::move(hook)); }

}  // namespace win
