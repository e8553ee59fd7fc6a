#include "driver.h"

#include <algorithm>
#include <functional>
#include <iostream>
#include <thread>

#include "measure.h"
#include "net.h"
#include "processes.h"
#include "relays.h"
#include "report.h"
#include "resources.h"

namespace bench {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

struct LiveRelay {
  RelayKind kind;
  uint16_t serverPort = 0;
  RelayInstance instance;
  uint64_t uploadBytes = 64 * kMiB;  // sized from the last rate to last about bulkSeconds
  uint64_t downloadBytes = 64 * kMiB;
};

class Driver {
 public:
  Driver(const DriverOptions& o, const std::string& selfExe)
      : o_(o), selfExe_(selfExe), nextRelayPort_(o.relayPortBase), nextServerPort_(o.serverPortBase) {}

  int run() {
    choose_relays();
    if (relays_.empty()) return std::cerr << "no relay to measure\n", 1;
    start_server();
    warm_up();
    for (int round = 1; round <= o_.rounds; ++round) run_round(round);
    stop_relays();
    print_table(std::cout, results_);
    if (o_.resources != "off") resources();
    stop_all();
    print_failures();
    return failures_ > 0 ? 1 : 0;
  }

 private:
  // One measurement, taken of every relay in turn; the metrics it fills are
  // counted as failed when it throws.
  struct Step {
    std::vector<Metric> metrics;
    bool freshRelay;  // restart the relay first
    std::function<void(LiveRelay&, RelayResults&)> measure;
  };

  double seconds(double s) const { return s * o_.scale; }

  void choose_relays() {
    for (RelayKind& k : relay_kinds(o_.velotrunkRelay, selfExe_)) {
      bool wanted = o_.only.empty() || std::count(o_.only.begin(), o_.only.end(), k.name) > 0;
      if (!wanted) continue;
      if (k.program.empty() || find_in_path(k.program).empty()) {
        std::cerr << "skipping " << k.name << ": " << (k.program.empty() ? k.name : k.program)
                  << " not found\n";
        continue;
      }
      LiveRelay r;
      r.kind = k;
      r.serverPort = free_port(nextServerPort_);
      relays_.push_back(r);
      results_.relays.push_back(k.name);
      results_.byRelay[k.name];
    }
  }

  void start_server() {
    std::vector<std::string> argv{selfExe_, "server"};
    for (auto& r : relays_) argv.push_back(std::to_string(r.serverPort));
    pid_t pid = spawn(argv, o_.workDir + "/server.log");
    for (auto& r : relays_)
      if (!wait_for_port(r.serverPort, pid, 5))
        throw NetError("the bench server did not start (see " + o_.workDir + "/server.log)");
  }

  static uint16_t free_port(uint16_t& next) {
    while (!port_is_free(next)) ++next;
    return next++;
  }

  // A fresh instance on a port never used before, so that no earlier
  // connection's TIME_WAIT stands in the way of its listener.
  void restart(LiveRelay& r) {
    if (r.instance.pid > 0) stop(r.instance.pid);
    r.instance = {};
    r.instance = start_relay(r.kind, free_port(nextRelayPort_), r.serverPort, o_.workDir);
  }

  void stop_relays() {
    for (auto& r : relays_)
      if (r.instance.pid > 0) stop(r.instance.pid);
    for (auto& r : relays_) r.instance = {};
  }

  void stop_all() {
    stop_relays();
    bench::stop_all();
  }

  // velotrunk-relay's resource figures, each on a fresh instance.
  void resources() {
    auto subject = std::find_if(relays_.begin(), relays_.end(), [](auto& r) { return r.kind.name == kSubject; });
    if (subject == relays_.end()) return;
    ResourceSetup setup{subject->kind, o_.workDir, subject->serverPort,
                        [this] { return free_port(nextRelayPort_); }, o_.resources == "quick"};
    std::vector<ResourceFigure> figures = measure_resources(setup);
    print_resource_table(std::cout, figures);
    for (auto& f : figures)
      if (!f.failure.empty()) {
        ++failures_;
        failed_steps_.push_back(std::string(kSubject) + ": " + f.label + ": " + f.failure);
      }
  }

  static uint64_t bytes_for(double megabytesPerSecond, double seconds) {
    auto bytes = static_cast<uint64_t>(megabytesPerSecond * 1e6 * seconds);
    return std::clamp<uint64_t>(bytes, 16 * kMiB, 8192 * kMiB);
  }

  void warm_up() {
    std::cerr << "warm-up: starting relays and sizing bulk transfers\n";
    for (auto& r : relays_) {
      try {
        restart(r);
        r.uploadBytes = bytes_for(bulk_upload(r.instance.port, r.uploadBytes, r.instance.pid).megabytesPerSecond,
                                  seconds(1.0));
        r.downloadBytes = bytes_for(
            bulk_download(r.instance.port, r.downloadBytes, r.instance.pid).megabytesPerSecond, seconds(1.0));
      } catch (const std::exception& e) {
        std::cerr << "  " << r.kind.name << ": " << e.what() << "\n";
      }
    }
  }

  // Every metric for every relay; the relays' order turns by one each round.
  void run_round(int round) {
    auto start = Clock::now();
    std::vector<LiveRelay*> order;
    for (auto& r : relays_) order.push_back(&r);
    std::rotate(order.begin(), order.begin() + (round - 1) % order.size(), order.end());
    for (const Step& step : steps())
      for (LiveRelay* r : order) run_step(step, *r);
    std::cerr << "round " << round << "/" << o_.rounds << " done in " << seconds_since(start) << " s\n";
  }

  void run_step(const Step& step, LiveRelay& r) {
    RelayResults& rr = results_.byRelay[r.kind.name];
    try {
      if (step.freshRelay) restart(r);
      else require_running(r);
      step.measure(r, rr);
    } catch (const std::exception& e) {
      for (Metric m : step.metrics) ++rr[m].failures;
      failed_steps_.push_back(r.kind.name + ": " + e.what());
      ++failures_;
    }
    reap_orphans();  // the connection processes that forking relays leave behind
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  std::vector<Step> steps() {
    return {
        {{kIdleMemory}, true, [this](LiveRelay& r, RelayResults& rr) { idle_memory(r, rr); }},
        {{kBulkUp, kBulkDown, kPeakMemory}, false, [this](LiveRelay& r, RelayResults& rr) { bulk(r, rr); }},
        {{kConnectionsOne}, false,
         [this](LiveRelay& r, RelayResults& rr) { connections(r, rr, 1, kConnectionsOne); }},
        {{kConnections32}, false,
         [this](LiveRelay& r, RelayResults& rr) { connections(r, rr, 32, kConnections32); }},
        {{kRtt1P50, kRtt1P99}, false,
         [this](LiveRelay& r, RelayResults& rr) { latency(r, rr, 1, kRtt1P50, kRtt1P99); }},
        {{kRtt1000P50, kRtt1000P99}, false,
         [this](LiveRelay& r, RelayResults& rr) { latency(r, rr, 1000, kRtt1000P50, kRtt1000P99); }},
        {{kLoadedPingP50, kLoadedPingP99}, false,
         [this](LiveRelay& r, RelayResults& rr) { loaded_ping(r, rr, 0, kLoadedPingP50, kLoadedPingP99); }},
        {{kPacedPingP50, kPacedPingP99}, false,
         [this](LiveRelay& r, RelayResults& rr) {
           loaded_ping(r, rr, kPacedBytesPerSecond, kPacedPingP50, kPacedPingP99);
         }},
    };
  }

  // A relay that died in an earlier step is started again for the next one.
  void require_running(LiveRelay& r) {
    if (r.instance.pid <= 0 || session_rss_bytes(r.instance.pid) == 0) restart(r);
  }

  void idle_memory(LiveRelay& r, RelayResults& rr) {
    double bytes = idle_bytes_per_connection(r.instance.port, r.instance.pid, o_.idleConnections);
    rr[kIdleMemory].values.push_back(bytes / 1024);
  }

  void bulk(LiveRelay& r, RelayResults& rr) {
    Bulk up = bulk_upload(r.instance.port, r.uploadBytes, r.instance.pid);
    Bulk down = bulk_download(r.instance.port, r.downloadBytes, r.instance.pid);
    rr[kBulkUp].values.push_back(up.megabytesPerSecond);
    rr[kBulkDown].values.push_back(down.megabytesPerSecond);
    rr[kPeakMemory].values.push_back(static_cast<double>(std::max(up.peakRssBytes, down.peakRssBytes)) / 1e6);
    r.uploadBytes = bytes_for(up.megabytesPerSecond, seconds(1.0));
    r.downloadBytes = bytes_for(down.megabytesPerSecond, seconds(1.0));
  }

  void connections(LiveRelay& r, RelayResults& rr, int concurrency, Metric m) {
    Connections c = connections_per_second(r.instance.port, concurrency, seconds(1.0));
    rr[m].values.push_back(c.perSecond);
    if (c.errors > 0)
      failed_steps_.push_back(r.kind.name + ": connection errors in " + std::to_string(concurrency) +
                              "-at-once cycles");
  }

  void latency(LiveRelay& r, RelayResults& rr, size_t size, Metric p50, Metric p99) {
    Latency l = round_trips(r.instance.port, size, seconds(0.5));
    rr[p50].values.push_back(l.p50us);
    rr[p99].values.push_back(l.p99us);
  }

  // A download as fast as it goes keeps both cores busy, so its ping also
  // measures how much CPU the relay leaves to others; one held to a rate
  // every relay reaches measures only how the relay treats a quiet
  // connection beside a busy one.
  static constexpr double kPacedBytesPerSecond = 100e6;

  void loaded_ping(LiveRelay& r, RelayResults& rr, double bytesPerSecond, Metric p50, Metric p99) {
    Latency l = ping_under_load(r.instance.port, seconds(1.5), bytesPerSecond);
    rr[p50].values.push_back(l.p50us);
    rr[p99].values.push_back(l.p99us);
  }

  void print_failures() {
    if (failed_steps_.empty()) return;
    std::cout << "\nProblems seen:\n";
    std::sort(failed_steps_.begin(), failed_steps_.end());
    failed_steps_.erase(std::unique(failed_steps_.begin(), failed_steps_.end()), failed_steps_.end());
    for (auto& f : failed_steps_) std::cout << "- " << f << "\n";
  }

  DriverOptions o_;
  std::string selfExe_;
  std::vector<LiveRelay> relays_;
  Results results_;
  uint16_t nextRelayPort_;
  uint16_t nextServerPort_;
  std::vector<std::string> failed_steps_;
  int failures_ = 0;  // measurements that could not be taken
};

}  // namespace

int run_driver(const DriverOptions& options, const std::string& selfExe) {
  install_process_guard();
  raise_fd_limit();
  try {
    return Driver(options, selfExe).run();
  } catch (const std::exception& e) {
    stop_all();
    std::cerr << "velotrunk-bench: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace bench
