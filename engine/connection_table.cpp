// The connection table: the records, their index by server socket, the
// chunks' buffers, and the sockets the engine holds.
#include "connection_table.h"

#include <atomic>
#include <cstring>
#include <set>
#include <unordered_map>

#include "free_list.h"

using namespace win;

std::map<std::int32_t, CLIENT_DATA> ClientTable;

namespace {

// Chunk buffers come from a free list: relaying allocates and frees one per
// chunk, and the general allocator is the slower path for that.
using ChunkPool = FreeList<CHUNK_SIZE, 4096>;

ChunkPool& chunkPool() {
  static ChunkPool* pool = new ChunkPool;  // outlives ClientTable's destruction
  return *pool;
}

// The client sockets whose record names a given server socket, smallest first.
std::unordered_map<SOCKET, std::set<std::int32_t>> serverIndex;

std::set<SOCKET> retiringSockets;

std::atomic<std::size_t> openConnectionSockets{0};
std::atomic<std::size_t> queuedChunks{0};

}  // namespace

SOCK_DATA::SOCK_DATA(const char* bytes, std::int32_t count) : payload(chunkPool().Take()), byteCount(count) {
  std::memcpy(payload, bytes, count);
  queuedChunks.fetch_add(1, std::memory_order_relaxed);
}

SOCK_DATA::SOCK_DATA(const SOCK_DATA& other) : SOCK_DATA(other.payload, other.byteCount) {}

SOCK_DATA::~SOCK_DATA() {
  chunkPool().Give(payload);
  queuedChunks.fetch_sub(1, std::memory_order_relaxed);
}

std::size_t OpenConnectionSockets() { return openConnectionSockets.load(std::memory_order_relaxed); }
std::size_t QueuedChunks() { return queuedChunks.load(std::memory_order_relaxed); }

std::int32_t ClientForServerSocket(SOCKET serverSocket) {
  auto it = serverIndex.find(serverSocket);
  if (it == serverIndex.end() || it->second.empty()) return -1;
  return *it->second.begin();
}

void SetServerSocket(std::int32_t clientSocket, CLIENT_DATA& entry, SOCKET serverSocket) {
  auto old = serverIndex.find(entry.serverSocket);
  if (old != serverIndex.end()) {
    old->second.erase(clientSocket);
    if (old->second.empty()) serverIndex.erase(old);
  }
  entry.serverSocket = serverSocket;
  serverIndex[serverSocket].insert(clientSocket);
}

// A new record names INVALID_SOCKET, and the index must know it.
CLIENT_DATA& Entry(std::int32_t clientSocket) {
  auto [it, inserted] = ClientTable.try_emplace(clientSocket);
  if (inserted) serverIndex[INVALID_SOCKET].insert(clientSocket);
  return it->second;
}

void DiscardQueue(ChunkQueue& queue) {
  while (!queue.empty()) queue.pop_front();
}

SOCKET OpenConnectionSocket(SOCKET s) {
  if (s != INVALID_SOCKET) openConnectionSockets.fetch_add(1, std::memory_order_relaxed);
  return s;
}

void RetireSocket(SOCKET s, bool abort) {
  WSAAsyncSelect(s, EngineWindow, 0, 0);
  if (abort) {
    linger now{1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now), sizeof now);
  }
  retiringSockets.insert(s);
  PostMessageA(EngineWindow, WM_CLOSE_RETIRED, s, 0);
}

void CloseRetired(SOCKET s) {
  if (retiringSockets.erase(s) == 0) return;
  closesocket(s);
  openConnectionSockets.fetch_sub(1, std::memory_order_relaxed);
}

void CloseAllRetired() {
  while (!retiringSockets.empty()) CloseRetired(*retiringSockets.begin());
}

bool IsRetiring(SOCKET s) { return retiringSockets.count(s) != 0; }

void ClearConnectionTable() {
  ClientTable.clear();
  serverIndex.clear();
  retiringSockets.clear();
  openConnectionSockets = 0;
}
