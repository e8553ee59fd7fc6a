#include "resources.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <deque>
#include <future>
#include <iostream>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

#include "net.h"
#include "processes.h"

namespace bench {
namespace {

using Figures = std::vector<ResourceFigure>;
using std::chrono::milliseconds;

constexpr uint64_t kMiB = 1024 * 1024;
constexpr double kNoTarget = std::numeric_limits<double>::quiet_NaN();

ResourceFigure figure(std::string label, double value, int decimals, double limit = kNoTarget,
                      std::string limitNote = "") {
  return {std::move(label), value, decimals, limit, std::move(limitNote), ""};
}

// A fresh relay for one measurement, stopped when it goes out of scope.
class FreshRelay {
 public:
  FreshRelay(const ResourceSetup& s, uint16_t serverPort, int fdLimit = 0)
      : instance_(start_relay(s.relay, s.freshPort(), serverPort, s.workDir, fdLimit)) {}
  ~FreshRelay() {
    if (instance_.pid > 0) stop(instance_.pid);
  }
  FreshRelay(const FreshRelay&) = delete;
  FreshRelay& operator=(const FreshRelay&) = delete;

  pid_t pid() const { return instance_.pid; }
  uint16_t port() const { return instance_.port; }
  // Stops it with signal; the seconds until it had exited.
  double stop_with(int signal) {
    pid_t pid = instance_.pid;
    instance_.pid = -1;
    return seconds_to_exit(pid, signal, 10);
  }

 private:
  RelayInstance instance_;
};

// Polls condition every few milliseconds; throws when it is still false
// after seconds.
template <typename Condition>
void wait_until(Condition condition, int seconds, const std::string& what) {
  for (auto start = Clock::now(); !condition();) {
    if (seconds_since(start) > seconds) throw NetError("waited " + std::to_string(seconds) + " s for " + what);
    std::this_thread::sleep_for(milliseconds(5));
  }
}

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

// Closing fd resets the connection instead of ending it in order.
void reset_on_close(int fd) {
  linger l{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

// Share of one core pid uses over the next `seconds`.
double cpu_share(pid_t pid, double seconds) {
  double before = cpu_seconds(pid);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  return (cpu_seconds(pid) - before) / seconds;
}

// --- Stop under full load ----------------------------------------------------

// Two connections in echo mode, each sending and reading on threads of its
// own as fast as it can, until their sockets are shut down.
class EchoStreams {
 public:
  explicit EchoStreams(uint16_t port) : a_(connect_loopback(port, false)), b_(connect_loopback(port, false)) {
    for (int fd : {int(a_), int(b_)}) {
      threads_.emplace_back([fd] {
        std::string block(64 * 1024, kModeEcho);
        while (send(fd, block.data(), block.size(), MSG_NOSIGNAL) > 0 || errno == EINTR) {
        }
      });
      threads_.emplace_back([this, fd] {
        std::vector<char> buffer(64 * 1024);
        for (ssize_t n; (n = recv(fd, buffer.data(), buffer.size(), 0)) > 0;) echoed_ += static_cast<uint64_t>(n);
      });
    }
  }
  ~EchoStreams() {
    shutdown(a_, SHUT_RDWR);
    shutdown(b_, SHUT_RDWR);
    for (auto& t : threads_) t.join();
  }
  uint64_t echoed() const { return echoed_; }

 private:
  Socket a_, b_;
  std::atomic<uint64_t> echoed_{0};
  std::vector<std::thread> threads_;
};

void stop_under_load(const ResourceSetup& s, Figures& out) {
  const std::pair<int, const char*> signals[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
  for (auto [signal, name] : signals) {
    FreshRelay relay(s, s.serverPort);
    EchoStreams streams(relay.port());
    wait_until([&] { return streams.echoed() >= 16 * kMiB; }, 30, "16 MiB echoed");
    double seconds = relay.stop_with(signal);
    out.push_back(figure("stop on " + std::string(name) + " under full load, ms", seconds * 1000, 0, 1000));
  }
}

// --- Memory a burst takes and gives back ---------------------------------------

int accept_from(int listener) {
  pollfd p{listener, POLLIN, 0};
  if (poll(&p, 1, 10000) <= 0) throw NetError("the relay did not connect to the flooding server");
  int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) throw_errno("accept");
  return fd;
}

// Non-blocking sends of 64 KiB blocks until three waits in a row for room
// find none: every buffer between here and the client is full.
void flood(int fd) {
  static const std::string block(64 * 1024, 's');
  for (int stalls = 0, sends = 0; stalls < 3 && sends < 10000;) {
    if (send(fd, block.data(), block.size(), MSG_NOSIGNAL) > 0) {
      stalls = 0;
      ++sends;
      continue;
    }
    if (errno != EAGAIN && errno != EINTR) throw_errno("flood");
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 2) == 0) ++stalls;
  }
}

// Each connection's server floods a client that reads nothing; then every
// connection is reset.
void burst(const ResourceSetup& s, Figures& out) {
  const int count = s.quick ? 200 : 500;
  uint16_t serverPort = s.freshPort();
  Socket listener(listen_loopback(serverPort));
  FreshRelay relay(s, serverPort);
  int socketsBefore = open_descriptors(relay.pid(), true);
  long long before = session_rss_bytes(relay.pid());
  std::deque<Socket> ends;  // closing them resets their connections
  for (int i = 0; i < count; ++i) {
    reset_on_close(ends.emplace_back(connect_loopback(relay.port(), false)));
    reset_on_close(ends.emplace_back(accept_from(listener)));
    flood(ends.back());
  }
  long long peak = session_rss_bytes(relay.pid());
  ends.clear();
  wait_until([&] { return open_descriptors(relay.pid(), true) == socketsBefore; }, 30,
             "the relay to close the burst's sockets");
  long long after = session_rss_bytes(relay.pid());
  double taken = static_cast<double>(peak - before) / 1024, held = static_cast<double>(after - before) / 1024;
  std::string label = "burst of " + std::to_string(count) + " stalled connections: ";
  out.push_back(figure(label + "memory taken at its peak, KiB", taken, 0));
  out.push_back(figure(label + "still held once all are reset, KiB", held, 0, taken / 4, "a quarter of what it took"));
}

// --- Peak memory beside a slow reader -----------------------------------------

void fetch(uint16_t port, uint64_t bytes) {
  Socket fd(connect_loopback(port, false));
  send_request(fd, kModeSource, bytes);
  std::vector<char> data(bytes);
  read_exact(fd, data.data(), data.size());
}

// One client reads a 48 MiB download at about 10 MB/s (100,000 bytes every
// 10 ms) while 100 short fetches go through the same relay.
void slow_reader(const ResourceSetup& s, Figures& out) {
  constexpr uint64_t kDownload = 48 * kMiB;
  constexpr size_t kStep = 100000;
  FreshRelay relay(s, s.serverPort);
  RssSampler sampler(relay.pid());
  Socket slow(connect_loopback(relay.port(), false));
  send_request(slow, kModeSource, kDownload);
  auto start = Clock::now();
  auto fetches = std::async(std::launch::async, [&] {
    for (int i = 0; i < 100; ++i) {
      std::this_thread::sleep_until(start + i * milliseconds(40));
      fetch(relay.port(), 100000);
    }
  });
  std::vector<char> buffer(kStep);
  for (uint64_t left = kDownload, step = 1; left > 0; ++step) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, kStep));
    read_exact(slow, buffer.data(), n);
    left -= n;
    std::this_thread::sleep_until(start + step * milliseconds(10));
  }
  fetches.get();
  double peak = static_cast<double>(sampler.finish()) / kMiB;
  out.push_back(figure("peak memory, a 48 MiB download read at 10 MB/s beside 100 fetches, MiB", peak, 1, 32));
}

// --- CPU ------------------------------------------------------------------------

void idle_cpu(const ResourceSetup& s, Figures& out) {
  FreshRelay relay(s, s.serverPort);
  out.push_back(figure("CPU while idle, s per s", cpu_share(relay.pid(), 2.0), 3, 0.01));
}

// Under a limit of 32 descriptors, clients that each send a byte and wait
// for its echo, until the relay holds every descriptor it may; then one
// more, which waits for a descriptor.
void cpu_out_of_descriptors(const ResourceSetup& s, Figures& out) {
  constexpr int kLimit = 32;
  FreshRelay relay(s, s.serverPort, kLimit);
  auto full = [&] { return open_descriptors(relay.pid()) >= kLimit; };
  std::deque<Socket> clients;
  auto open_client = [&] {
    Socket& fd = clients.emplace_back(connect_loopback(relay.port(), false));
    write_all(fd, &kModeEcho, 1);
    return int(fd);
  };
  while (!full()) {
    if (clients.size() >= kLimit) throw NetError("the relay never ran out of descriptors");
    int fd = open_client();
    wait_until([&] { return readable(fd) || full(); }, 10, "an echo or the descriptor limit");
    char echo;
    if (readable(fd)) read_exact(fd, &echo, 1);
  }
  open_client();
  out.push_back(figure("CPU while out of descriptors (limit 32), s per s", cpu_share(relay.pid(), 1.0), 3, 0.05));
}

// --- Segments ----------------------------------------------------------------------

// The client of a 64 MiB download counts the data segments it received
// against the fewest its bytes fit in.
void segments(const ResourceSetup& s, Figures& out) {
  constexpr uint64_t kDownload = 64 * kMiB;
  FreshRelay relay(s, s.serverPort);
  Socket fd(connect_loopback(relay.port(), false));
  send_request(fd, kModeSource, kDownload);
  std::vector<char> buffer(256 * 1024);
  for (uint64_t left = kDownload; left > 0;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
    read_exact(fd, buffer.data(), n);
    left -= n;
  }
  tcp_info info{};
  socklen_t length = sizeof info;
  if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) throw_errno("TCP_INFO");
  // The size of the large segments that arrived (small ones do not lower
  // it): a sender the kernel holds to half the receive window is not blamed
  // for that, one that sends a full segment and a short one per write is.
  if (info.tcpi_rcv_mss == 0) throw NetError("TCP_INFO gave no segment size");
  double fewest = std::ceil(static_cast<double>(kDownload) / info.tcpi_rcv_mss);
  out.push_back(figure("segments of a 64 MiB download ÷ the fewest its bytes need (" +
                     std::to_string(info.tcpi_data_segs_in) + " ÷ " + std::to_string(int(fewest)) + ")",
                 info.tcpi_data_segs_in / fewest, 2, 1.5));
}

}  // namespace

std::vector<ResourceFigure> measure_resources(const ResourceSetup& setup) {
  struct Step {
    const char* name;
    void (*measure)(const ResourceSetup&, Figures&);
  };
  const Step steps[] = {
      {"stop under full load", stop_under_load},
      {"memory of a burst", burst},
      {"peak memory beside a slow reader", slow_reader},
      {"CPU while idle", idle_cpu},
      {"CPU while out of descriptors", cpu_out_of_descriptors},
      {"segments", segments},
  };
  Figures out;
  for (const Step& step : steps) {
    auto start = Clock::now();
    try {
      step.measure(setup, out);
      std::cerr << "resources: " << step.name << " in " << seconds_since(start) << " s\n";
    } catch (const std::exception& e) {
      ResourceFigure failed = figure(step.name, kNoTarget, 0);
      failed.failure = e.what();
      out.push_back(failed);
    }
    reap_orphans();
  }
  return out;
}

}  // namespace bench
