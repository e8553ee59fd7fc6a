#include "peers.h"

#include <algorithm>
#include <chrono>

namespace fuzz {
namespace {

using Clock = std::chrono::steady_clock;
using Time = Clock::time_point;
using Ms = std::chrono::milliseconds;

constexpr std::size_t kBudget = 1 << 20;   // bytes one side moves per wake-up
constexpr std::size_t kMaxFaults = 6;      // per connection
constexpr auto kQuietEnd = Ms(300);        // no new server connection for this long at the end
char buffer[256 * 1024];

// One end of a connection and where it is in its plan.
struct Side {
  const char* role = "";
  const SidePlan* plan = nullptr;
  std::vector<Write> writes;
  Stream out, in;
  const SideState* peer = nullptr;  // null while the other end is unknown
  net::Socket socket = net::kNoSocket;
  SideState state;
  bool connecting = false;
  bool started = false;
  bool corrupt = false;  // its bytes stopped matching: checked no further
  bool pauseTaken = false;
  Time start, nextWrite, nextRead, resetAt;
  std::size_t writeIndex = 0, writeDone = 0;

  bool Open() const { return socket != net::kNoSocket; }
  bool WritesDone() const { return writeIndex == writes.size(); }
  bool WantsRead(Time now) const {
    return Open() && started && !state.sawEnd && !state.error && plan->read != ReadMode::kNever && now >= nextRead;
  }
  bool WantsWrite(Time now) const {
    return Open() && (connecting || (started && !state.error && !state.finSent && !WritesDone() && now >= nextWrite));
  }
  // Starts the plan's clock: the client once connected, the server once it knows its id.
  void Begin(Time at) {
    start = nextRead = at;
    resetAt = at + Ms(plan->resetMs);
    nextWrite = at + Ms(writes.empty() ? 0 : writes[0].pauseMs);
  }
};

// One scenario over one mode.
struct Connection {
  const Scenario* scenario = nullptr;
  Mode mode = kDirect;
  Side client, server;
  bool serverKnown = false;
  bool connectFailed = false;
  bool done = false;
  Time deadline;  // moved on by every step forward: a stall is a connection that stops moving
  std::vector<std::string> faults;

  void Fault(const Side& side, const std::string& what) {
    if (what.empty() || faults.size() >= kMaxFaults) return;
    faults.push_back(std::string(side.role) + ": " + what);
  }
  bool Finished() const {
    if (!client.state.closed) return false;
    if (serverKnown) return server.state.closed;
    return client.state.reset || connectFailed;  // the id may never have reached the server
  }
};

// An accepted server connection that has not read its connection's id yet.
struct Unnamed {
  net::Socket socket;
  Mode mode;
  std::array<char, kIdSize> id{};
  std::size_t got = 0;
  Time deadline;
};

class Runner {
 public:
  Runner(const std::vector<Scenario>& scenarios, const Options& options, const Listeners& listeners, int relayPort)
      : options_(options), listeners_(listeners), rng_(options.seed ^ 0xACCE97ull) {
    clientPorts_ = {listeners.port[kDirect], relayPort};
    connections_.resize(scenarios.size() * 2);
    for (std::size_t i = 0; i < connections_.size(); ++i) Prepare(connections_[i], scenarios[i / 2], i);
  }

  RunResult Run();

 private:
  // What a watched socket belongs to: a side of a connection, an unnamed
  // server connection (by index: accepting may grow the list), or a listener.
  struct Target {
    Connection* connection;
    Side* side;
    std::size_t unnamed;
    Mode mode;
  };
  static constexpr std::size_t kNone = ~std::size_t(0);

  void Prepare(Connection& c, const Scenario& scenario, std::size_t id);
  void StartScenarios(Time now);
  void Connect(Connection& c, Time now);
  bool AllEnded(Time now) const;
  int ListWatches(std::vector<net::Watch>& watches, std::vector<Target>& targets, Time now);
  void Dispatch(const net::Watch& watch, const Target& target, Time now);
  void Accept(Mode mode, Time now);
  void ReadId(Unnamed& u, Time now);
  void Attach(Unnamed& u, Time now);
  void FinishConnect(Connection& c, Time now);
  void Moved(Connection& c, Time now) const { c.deadline = now + Ms(options_.deadlineMs); }
  void ReadSome(Connection& c, Side& side, Time now);
  void WriteSome(Connection& c, Side& side, Time now);
  void Advance(Connection& c, Side& side, Time now);
  void CheckEnded(Connection& c, Time now);
  void Account(RunResult& result) const;

  const Options options_;
  const Listeners listeners_;
  std::array<int, 2> clientPorts_;
  Rng rng_;
  std::vector<Connection> connections_;  // by id: scenario position * 2 + mode
  std::vector<Connection*> live_;
  std::vector<Unnamed> unnamed_;
  std::size_t nextScenario_ = 0;
  int running_ = 0;  // connections started and not done
  std::array<Time, 2> acceptPausedUntil_{};
  std::array<int, 2> unnamedErrors_{0, 0};
  std::array<std::vector<std::string>, 2> unnamedFaults_;
  Time lastAccept_{};
};

void Runner::Prepare(Connection& c, const Scenario& scenario, std::size_t id) {
  c.scenario = &scenario;
  c.mode = static_cast<Mode>(id % 2);
  std::uint64_t key = (static_cast<std::uint64_t>(scenario.index) << 2) | c.mode << 1;
  c.client.role = "client";
  c.client.plan = &scenario.client;
  c.client.writes = scenario.client.writes;
  c.client.writes.insert(c.client.writes.begin(), Write{kIdSize, 0, kIdSize});
  c.client.out = c.server.in = Stream(key, static_cast<int>(id));
  c.server.role = "server";
  c.server.plan = &scenario.server;
  c.server.writes = scenario.server.writes;
  c.server.out = c.client.in = Stream(key | 1, -1);
  c.server.peer = &c.client.state;
}

// --- The loop -----------------------------------------------------------------

RunResult Runner::Run() {
  std::vector<net::Watch> watches;
  std::vector<Target> targets;
  for (Time now = Clock::now(); !AllEnded(now); now = Clock::now()) {
    StartScenarios(now);
    int timeoutMs = ListWatches(watches, targets, now);
    net::Poll(watches, timeoutMs);
    now = Clock::now();
    for (std::size_t i = 0; i < watches.size(); ++i)
      if (watches[i].readable || watches[i].writable) Dispatch(watches[i], targets[i], now);
    for (Connection* c : live_) {
      Advance(*c, c->client, now);
      Advance(*c, c->server, now);
      CheckEnded(*c, now);
    }
    std::erase_if(live_, [](const Connection* c) { return c->done && !c->client.Open() && !c->server.Open(); });
    for (Unnamed& u : unnamed_) {
      if (u.socket == net::kNoSocket || now < u.deadline) continue;
      unnamedFaults_[u.mode].push_back("a server connection stalled before its id arrived (" +
                                       std::to_string(u.got) + " bytes of it)");
      net::Abort(u.socket);
      u.socket = net::kNoSocket;
    }
    std::erase_if(unnamed_, [](const Unnamed& u) { return u.socket == net::kNoSocket; });
  }
  RunResult result;
  Account(result);
  return result;
}

void Runner::StartScenarios(Time now) {
  while (nextScenario_ < connections_.size() / 2 && running_ < 2 * options_.concurrency) {
    for (int mode : {kDirect, kRelayed}) Connect(connections_[nextScenario_ * 2 + mode], now);
    ++nextScenario_;
  }
}

void Runner::Connect(Connection& c, Time now) {
  c.deadline = now + Ms(options_.deadlineMs);
  c.client.socket = net::ConnectLoopback(clientPorts_[c.mode]);
  c.client.connecting = true;
  ++running_;
  live_.push_back(&c);
  if (c.client.Open()) return;
  c.connectFailed = true;
  c.client.state.closed = true;
  c.Fault(c.client, "connect failed at once: " + net::ErrorName(net::LastError()));
}

bool Runner::AllEnded(Time now) const {
  return nextScenario_ == connections_.size() / 2 && running_ == 0 && unnamed_.empty() &&
         now - lastAccept_ >= kQuietEnd;
}

// Lists what to poll for, and returns how long poll may wait: until the
// next timer of any side, 20 ms at most.
int Runner::ListWatches(std::vector<net::Watch>& watches, std::vector<Target>& targets, Time now) {
  watches.clear();
  targets.clear();
  Time wake = now + Ms(20);
  for (Mode mode : {kDirect, kRelayed}) {
    if (now >= acceptPausedUntil_[mode]) {
      watches.push_back({listeners_.socket[mode], true, false});
      targets.push_back({nullptr, nullptr, kNone, mode});
    } else {
      wake = std::min(wake, acceptPausedUntil_[mode]);
    }
  }
  for (std::size_t i = 0; i < unnamed_.size(); ++i) {
    watches.push_back({unnamed_[i].socket, true, false});
    targets.push_back({nullptr, nullptr, i, unnamed_[i].mode});
  }
  for (Connection* c : live_) {
    if (!c->done) wake = std::min(wake, c->deadline);
    for (Side* side : {&c->client, &c->server}) {
      if (!side->Open()) continue;
      bool read = side->WantsRead(now), write = side->WantsWrite(now);
      if (read || write) {
        watches.push_back({side->socket, read, write});
        targets.push_back({c, side, kNone, c->mode});
      }
      if (side->connecting) continue;
      if (!side->started) wake = std::min(wake, side->start);
      if (side->plan->ending == Ending::kReset) wake = std::min(wake, side->resetAt);
      if (!side->WritesDone() && side->nextWrite > now) wake = std::min(wake, side->nextWrite);
      if (side->nextRead > now) wake = std::min(wake, side->nextRead);
    }
  }
  auto ms = std::chrono::duration_cast<Ms>(wake - now).count();
  return static_cast<int>(std::clamp<long long>(ms + 1, 0, 20));
}

void Runner::Dispatch(const net::Watch& watch, const Target& t, Time now) {
  if (t.side) {
    Side& side = *t.side;
    if (side.connecting) {
      if (watch.writable) FinishConnect(*t.connection, now);
      return;
    }
    if (watch.readable && side.WantsRead(now)) ReadSome(*t.connection, side, now);
    if (watch.writable && side.WantsWrite(now)) WriteSome(*t.connection, side, now);
  } else if (t.unnamed != kNone) {
    ReadId(unnamed_[t.unnamed], now);
  } else {
    Accept(t.mode, now);
  }
}

// --- Servers ------------------------------------------------------------------

// Accepts what waits; now and then a listener stops accepting for a while,
// so that some connections wait in its backlog.
void Runner::Accept(Mode mode, Time now) {
  for (int i = 0; i < 16; ++i) {
    net::Socket s = net::Accept(listeners_.socket[mode]);
    if (s == net::kNoSocket) return;
    unnamed_.push_back({s, mode, {}, 0, now + Ms(options_.deadlineMs)});
    lastAccept_ = now;
    if (rng_.Percent(3)) {
      acceptPausedUntil_[mode] = now + Ms(rng_.Between(20, 300));
      return;
    }
  }
}

void Runner::ReadId(Unnamed& u, Time now) {
  long n = net::Recv(u.socket, u.id.data() + u.got, kIdSize - u.got);
  if (n == net::kWouldBlock) return;
  if (n > 0) {
    u.got += n;
    if (u.got == kIdSize) Attach(u, now);
    return;
  }
  if (n == 0)
    unnamedFaults_[u.mode].push_back("a server connection saw a clean end of stream after " +
                                     std::to_string(u.got) + " bytes, before its id");
  else
    ++unnamedErrors_[u.mode];  // allowed while some client reset before its id arrived; see Account
  net::Close(u.socket);
  u.socket = net::kNoSocket;
}

void Runner::Attach(Unnamed& u, Time now) {
  int id = ParseId(u.id);
  net::Socket s = u.socket;
  u.socket = net::kNoSocket;
  if (id < 0 || static_cast<std::size_t>(id) >= connections_.size() || id % 2 != u.mode) {
    unnamedFaults_[u.mode].push_back("a server connection began with bytes that are no id of this mode's clients");
    net::Abort(s);
    return;
  }
  Connection& c = connections_[id];
  if (c.serverKnown) {
    c.Fault(c.server, "a second server connection carried this connection's id");
    net::Abort(s);
    return;
  }
  c.serverKnown = true;
  c.client.peer = &c.server.state;
  c.server.socket = s;
  c.Fault(c.server, CheckData(c.server.state, &c.client.state, kIdSize, kIdSize));
  c.server.state.received = kIdSize;
  c.server.Begin(now + Ms(c.scenario->server.startDelayMs));
  if (c.done) {  // its client reset before: the server side plays its part all the same
    c.done = false;
    c.deadline = now + Ms(options_.deadlineMs);
    ++running_;
    live_.push_back(&c);
  }
}

// --- Both ends ----------------------------------------------------------------

void Runner::FinishConnect(Connection& c, Time now) {
  Side& client = c.client;
  client.connecting = false;
  if (int error = net::ConnectError(client.socket)) {
    c.connectFailed = true;
    c.Fault(client, "connect failed: " + net::ErrorName(error));
    net::Close(client.socket);
    client.socket = net::kNoSocket;
    client.state.closed = true;
    return;
  }
  client.started = true;
  client.Begin(now);
  Moved(c, now);
}

void Runner::ReadSome(Connection& c, Side& side, Time now) {
  const SidePlan& plan = *side.plan;
  SideState& st = side.state;
  std::size_t budget = kBudget;
  if (plan.read == ReadMode::kSlow) {
    // A chunk for each interval since the last read, so that a busy loop
    // that comes round late does not slow the reader down further.
    auto interval = Ms(plan.slowIntervalMs);
    budget = plan.slowChunk * std::min<std::size_t>(16, 1 + (now - side.nextRead) / interval);
    side.nextRead = now + interval;
  }
  if (plan.read == ReadMode::kPaused && !side.pauseTaken && st.received < plan.pauseAfter)
    budget = std::min(budget, plan.pauseAfter - st.received);  // the pause starts right there
  while (budget > 0) {
    long n = net::Recv(side.socket, buffer, std::min(budget, sizeof buffer));
    if (n > 0) {
      std::size_t mismatch = side.corrupt ? n : side.in.Mismatch(st.received, buffer, n);
      side.corrupt = side.corrupt || mismatch < static_cast<std::size_t>(n);
      c.Fault(side, CheckData(st, side.peer, n, mismatch));
      st.received += n;
      budget -= n;
      Moved(c, now);
      continue;
    }
    if (n == 0) {
      st.sawEnd = true;
      c.Fault(side, CheckEnd(st, side.peer, options_.resetsMayEndCleanly));
    } else if (n == net::kFailed) {
      st.error = net::LastError();
      c.Fault(side, CheckError(st, side.peer));
    }
    break;
  }
}

void Runner::WriteSome(Connection& c, Side& side, Time now) {
  SideState& st = side.state;
  for (std::size_t budget = kBudget; budget > 0 && !side.WritesDone() && now >= side.nextWrite;) {
    const Write& w = side.writes[side.writeIndex];
    if (side.writeDone == w.size) {
      ++side.writeIndex;
      side.writeDone = 0;
      if (!side.WritesDone()) side.nextWrite = now + Ms(side.writes[side.writeIndex].pauseMs);
      continue;
    }
    std::size_t piece = std::min({w.size - side.writeDone, w.piece, sizeof buffer, budget});
    side.out.Fill(st.accepted, buffer, piece);
    long n = net::Send(side.socket, buffer, piece);
    if (n == net::kFailed) {
      st.error = net::LastError();
      c.Fault(side, CheckError(st, side.peer));
    }
    if (n <= 0) return;
    Moved(c, now);
    st.accepted += n;
    side.writeDone += n;
    budget -= n;
    if (static_cast<std::size_t>(n) < piece) return;  // the socket is full
  }
}

// The timers and the ending: a side closes once its plan says so.
void Runner::Advance(Connection& c, Side& side, Time now) {
  if (!side.Open() || side.connecting) return;
  if (!side.started) {
    if (now < side.start) return;
    side.started = true;
  }
  SideState& st = side.state;
  auto close = [&](bool reset) {
    if (reset) {
      net::Abort(side.socket);
    } else {
      reset = net::UnreadBytes(side.socket) > 0;  // the close sends a reset, not an end of stream
      net::Close(side.socket);
    }
    side.socket = net::kNoSocket;
    (reset ? st.reset : st.finSent) = true;
    st.closed = true;
  };
  if (st.error) return close(false);
  // Finished writes move on, so that a zero-size last write counts as done.
  if (!side.WritesDone() && side.writeDone == side.writes[side.writeIndex].size) WriteSome(c, side, now);
  const SidePlan& plan = *side.plan;
  if (plan.read == ReadMode::kPaused && !side.pauseTaken && st.received >= plan.pauseAfter) {
    side.pauseTaken = true;
    side.nextRead = now + Ms(plan.pauseMs);
  }
  switch (plan.ending) {
    case Ending::kReset:
      if (now >= side.resetAt) close(true);
      break;
    case Ending::kClose:
      if (side.WritesDone()) close(false);
      break;
    case Ending::kHalfClose:
      if (side.WritesDone() && !st.finSent) {
        net::ShutdownSend(side.socket);
        st.finSent = true;
      }
      if (st.finSent && st.sawEnd) close(false);
      break;
    case Ending::kWait:
      if (side.WritesDone() && st.sawEnd) close(false);
      break;
  }
}

void Runner::CheckEnded(Connection& c, Time now) {
  if (c.done) return;
  if (c.Finished()) {
    c.done = true;
    --running_;
    return;
  }
  if (now < c.deadline) return;
  std::string what = "stalled; client " + c.client.state.Describe() + "; server " +
                     (c.serverKnown ? c.server.state.Describe() : "never got this connection's id");
  c.faults.push_back(what);
  for (Side* side : {&c.client, &c.server}) {
    if (!side->Open()) continue;
    net::Abort(side->socket);
    side->socket = net::kNoSocket;
    side->state.stalled = side->state.closed = true;
  }
  c.done = true;
  --running_;
}

// --- Results ------------------------------------------------------------------

void Runner::Account(RunResult& result) const {
  result.connections.resize(connections_.size() / 2);
  std::array<int, 2> resetUnknown{0, 0};
  for (std::size_t i = 0; i < connections_.size(); ++i) {
    const Connection& c = connections_[i];
    ConnectionResult& r = result.connections[i / 2][c.mode];
    r.client = c.client.state;
    r.server = c.server.state;
    r.serverKnown = c.serverKnown;
    r.faults = c.faults;
    if (!c.serverKnown && c.client.state.reset) ++resetUnknown[c.mode];
    if (!c.serverKnown) continue;
    const Scenario& s = *c.scenario;
    std::string client = CheckOutcome(s.client, c.client.state, s.server, c.server.state);
    std::string server = CheckOutcome(s.server, c.server.state, s.client, c.client.state);
    if (!client.empty()) r.faults.push_back("client: " + client);
    if (!server.empty()) r.faults.push_back("server: " + server);
  }
  for (Mode mode : {kDirect, kRelayed}) {
    result.unnamedFaults[mode] = unnamedFaults_[mode];
    if (unnamedErrors_[mode] > resetUnknown[mode])
      result.unnamedFaults[mode].push_back(
          std::to_string(unnamedErrors_[mode]) + " server connections failed before their id arrived, but only " +
          std::to_string(resetUnknown[mode]) + " clients reset before their server knew them");
  }
}

}  // namespace

Listeners OpenListeners() {
  Listeners l;
  for (Mode mode : {kDirect, kRelayed}) l.socket[mode] = net::ListenLoopback(&l.port[mode]);
  return l;
}

void CloseListeners(const Listeners& listeners) {
  for (net::Socket s : listeners.socket)
    if (s != net::kNoSocket) net::Close(s);
}

RunResult RunScenarios(const std::vector<Scenario>& scenarios, const Options& options,
                       const Listeners& listeners, int relayPort) {
  return Runner(scenarios, options, listeners, relayPort).Run();
}

}  // namespace fuzz
