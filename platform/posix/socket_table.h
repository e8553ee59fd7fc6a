// The state this socket layer keeps for each socket, and the table that
// finds it by socket value. Shared by the files of the layer
// (sockets.cpp, connect_timeout.cpp, descriptor_reserve.cpp,
// lingering_close.cpp); nothing outside the layer sees it.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "free_list.h"
#include "messages.h"
#include "sockets.h"

namespace win::socket_layer {

// Bytes one kernel read may bring into a socket's read-ahead buffer, and the
// most that a socket's write buffer holds before send reports would-block.
constexpr std::size_t kBlockSize = 64 * 1024;
// Free blocks kept for reuse; the rest go back to the allocator.
constexpr std::size_t kPooledBlocks = 32;

using BlockPool = FreeList<kBlockSize, kPooledBlocks>;

inline BlockPool& pool() {
  static BlockPool* p = new BlockPool;  // never destroyed: sockets may outlive statics
  return *p;
}

// A byte range inside a pooled block, handed back to the pool when it empties.
struct Buffer {
  char* block = nullptr;
  std::size_t begin = 0;
  std::size_t end = 0;

  std::size_t size() const { return end - begin; }
  bool empty() const { return begin == end; }
  void Consume(std::size_t n) {
    begin += n;
    if (empty()) Release();
  }
  void Release() {
    if (block) pool().Give(block);
    block = nullptr;
    begin = end = 0;
  }
  // Makes room for up to `wanted` bytes at the end; returns the room made.
  std::size_t Reserve(std::size_t wanted) {
    if (!block) block = pool().Take();
    if (kBlockSize - end < wanted && begin > 0) {
      std::memmove(block, block + begin, size());
      end -= begin;
      begin = 0;
    }
    return std::min(wanted, kBlockSize - end);
  }
};

struct Sock : WaitSource {
  int fd = -1;
  std::uint64_t tag = 0;  // distinguishes this socket from later ones with the same value

  HWND hwnd = nullptr;
  UINT message = 0;
  long events = 0;
  bool inEpoll = false;

  bool bound = false;
  bool listening = false;
  bool connecting = false;
  bool connected = false;
  bool starved = false;  // a listener whose accept ran out of descriptors

  // What epoll last said, until a kernel call says otherwise.
  bool readable = false;
  bool hangupSeen = false;  // epoll has reported the peer's close or an error
  bool resetSeen = false;   // epoll has reported an error on a connected socket

  // Read side.
  Buffer in;
  bool peerClosed = false;
  int readError = 0;
  bool readEnabled = true;  // FD_READ / FD_ACCEPT may be posted
  bool closePosted = false;
  std::size_t readThisTurn = 0;

  // Write side.
  Buffer out;
  bool kernelFull = false;   // the kernel refused a write and epoll has not reported room since
  int writeError = 0;        // from a buffered write; reported by the next send
  bool writeWanted = false;  // FD_WRITE is owed once the buffer drains
  bool shutdownPending = false;
  bool sendShut = false;

  bool abortive = false;  // SO_LINGER 0: closing resets the connection

  // When a connect still without outcome fails with WSAETIMEDOUT.
  std::chrono::steady_clock::time_point connectDeadline;

  bool pending = false;  // listed for work after the current message
  // The last round in which it held back a short tail; 0 while it holds none
  // (and is not listed among the held tails).
  std::uint64_t heldRound = 0;

  // Closed by its owner while bytes were still buffered; when its peer last
  // took some, and how many the kernel held unacknowledged then.
  bool orphan = false;
  std::chrono::steady_clock::time_point lastProgress;
  int kernelHeld = 0;

  void OnReady(std::uint32_t ev) override;
};

// A socket as it was when listed: a later socket with the same value has
// another tag.
struct Pending {
  SOCKET fd;
  std::uint64_t tag;
};

class SocketTable {
 public:
  Sock* Find(SOCKET s) {
    if (s >= socks_.size()) return nullptr;
    return socks_[s].get();
  }
  // The socket as its owner sees it: one closed while still writing out its
  // last bytes is no longer there.
  Sock* Live(SOCKET s) {
    Sock* sock = Find(s);
    return sock && !sock->orphan ? sock : nullptr;
  }
  // The socket listed as `p`, if it is still that one.
  Sock* Find(const Pending& p) {
    Sock* sock = Find(p.fd);
    return sock && sock->tag == p.tag ? sock : nullptr;
  }
  Sock& Add(int fd) {
    if (static_cast<std::size_t>(fd) >= socks_.size()) socks_.resize(fd + 1);
    socks_[fd] = std::make_unique<Sock>();
    socks_[fd]->fd = fd;
    socks_[fd]->tag = NewTag();
    return *socks_[fd];
  }
  void Remove(int fd) {
    socks_[fd].reset();
    ++closedSinceTrim;
  }
  std::uint64_t NewTag() { return nextTag_++; }

  template <typename F>
  void ForEach(F f) {
    for (auto& s : socks_)
      if (s) f(*s);
  }

  // Sockets closed since memory was last handed back to the system.
  std::size_t closedSinceTrim = 0;

 private:
  std::vector<std::unique_ptr<Sock>> socks_;
  std::uint64_t nextTag_ = 1;
};

SocketTable& table();

// Lists the socket for work after the current message: buffered bytes to
// write, events to post again.
void MarkPending(Sock& s);

// Posts `event` with `error` to the socket's window, if it registered for
// it. A message posted after the next look at the descriptors waits behind
// what that look finds.
void Post(Sock& s, long event, int error, bool afterPoll = false);

}  // namespace win::socket_layer
