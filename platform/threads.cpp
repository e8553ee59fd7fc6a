#include "threads.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace win {
namespace {

struct ThreadState {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  DWORD exitCode = STILL_ACTIVE;
};

// A handle owns one reference to the thread's state; the thread owns another.
struct ThreadHandle {
  std::shared_ptr<ThreadState> state;
};

std::atomic<DWORD> nextThreadId{1};

}  // namespace

HANDLE CreateThread(void*, std::size_t, LPTHREAD_START_ROUTINE start, void* parameter, DWORD,
                    DWORD* threadId) {
  auto state = std::make_shared<ThreadState>();
  try {
    std::thread([state, start, parameter] {
      DWORD code = start(parameter);
      std::lock_guard lock(state->mutex);
      state->exitCode = code;
      state->done = true;
      state->finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  if (threadId) *threadId = nextThreadId++;
  return new ThreadHandle{std::move(state)};
}

BOOL CloseHandle(HANDLE handle) {
  if (!handle) return FALSE;
  delete static_cast<ThreadHandle*>(handle);
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs) {
  auto& state = *static_cast<ThreadHandle*>(handle)->state;
  std::unique_lock lock(state.mutex);
  auto isDone = [&] { return state.done; };
  if (timeoutMs == INFINITE) {
    state.finished.wait(lock, isDone);
    return WAIT_OBJECT_0;
  }
  return state.finished.wait_for(lock, std::chrono::milliseconds(timeoutMs), isDone) ? WAIT_OBJECT_0
                                                                                     : WAIT_TIMEOUT;
}

BOOL GetExitCodeThread(HANDLE handle, DWORD* exitCode) {
  auto& state = *static_cast<ThreadHandle*>(handle)->state;
  std::lock_guard lock(state.mutex);
  *exitCode = state.exitCode;
  return TRUE;
}

}  // namespace win
