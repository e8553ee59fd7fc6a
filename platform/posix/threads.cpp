#include "threads.h"

#include <atomic>
#include <system_error>
#include <thread>

namespace win {
namespace {

struct ThreadHandle {
  DWORD id;
};

std::atomic<DWORD> nextThreadId{1};

}  // namespace

HANDLE CreateThread(void*, std::size_t, LPTHREAD_START_ROUTINE start, void* parameter, DWORD,
                    DWORD* threadId) {
  try {
    std::thread([start, parameter] { start(parameter); }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  DWORD id = nextThreadId++;
  if (threadId) *threadId = id;
  return new ThreadHandle{id};
}

BOOL CloseHandle(HANDLE handle) {
  if (!handle) return FALSE;
  delete static_cast<ThreadHandle*>(handle);
  return TRUE;
}

}  // namespace win
