#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "relays.h"

namespace bench {
namespace {

struct MetricInfo {
  const char* label;
  bool higherIsBetter;
  int decimals;
};

const MetricInfo kInfo[kMetricCount] = {
    {"bulk client→server, MB/s", true, 0},
    {"bulk server→client, MB/s", true, 0},
    {"connections/s, one at a time", true, 0},
    {"connections/s, 32 at once", true, 0},
    {"RTT 1 B, median µs", false, 1},
    {"RTT 1 B, p99 µs", false, 1},
    {"RTT 1000 B, median µs", false, 1},
    {"RTT 1000 B, p99 µs", false, 1},
    {"ping under bulk, median µs", false, 1},
    {"ping under bulk, p99 µs", false, 1},
    {"ping under 100 MB/s, median µs", false, 1},
    {"ping under 100 MB/s, p99 µs", false, 1},
    {"idle memory, KiB/connection", false, 2},
    {"peak memory in bulk, MB", false, 1},
};

enum class TargetKind { toPeer, toBestPeer, absolute, toOwnMetric };

struct Target {
  Metric metric;
  TargetKind kind;
  const char* peer;  // toPeer only
  double limit;      // ratio or absolute value
  Metric base = kMetricCount;  // toOwnMetric only, with its name in the target column
  const char* baseName = nullptr;
};

const Target kTargets[] = {
    {kBulkUp, TargetKind::toPeer, "haproxy-splice", 1.0},
    {kBulkUp, TargetKind::toPeer, "socat", 3.0},
    {kBulkUp, TargetKind::toPeer, "plain-64k", 0.85},
    {kBulkDown, TargetKind::toPeer, "haproxy-splice", 1.0},
    {kBulkDown, TargetKind::toPeer, "socat", 3.0},
    {kBulkDown, TargetKind::toPeer, "plain-64k", 0.85},
    {kConnectionsOne, TargetKind::toPeer, "haproxy", 1.0},
    {kConnections32, TargetKind::toPeer, "haproxy", 1.0},
    {kRtt1P50, TargetKind::toBestPeer, nullptr, 1.0},
    {kRtt1000P50, TargetKind::toOwnMetric, nullptr, 1.1, kRtt1P50, "1 B median"},
    {kLoadedPingP99, TargetKind::toBestPeer, nullptr, 1.0},
    {kIdleMemory, TargetKind::absolute, nullptr, 3.0},
    {kPeakMemory, TargetKind::absolute, nullptr, 16.0},
};

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

double median(std::vector<double> v) {
  if (v.empty()) return kNone;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string number(double v, int decimals) {
  if (std::isnan(v)) return "n/a";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string spread(const Samples& s, int decimals) {
  std::string text;
  if (!s.values.empty()) {
    auto [lo, hi] = std::minmax_element(s.values.begin(), s.values.end());
    text = number(*lo, decimals) + "–" + number(*hi, decimals);
  }
  if (s.failures > 0) text += (text.empty() ? "" : " ") + std::to_string(s.failures) + " failed";
  return text;
}

bool meets(double value, double limit, bool higherIsBetter) {
  return higherIsBetter ? value >= limit : value <= limit;
}

std::string verdict(double value, double limit, bool higherIsBetter, const char* unit) {
  if (std::isnan(value)) return std::string(higherIsBetter ? "≥ " : "≤ ") + number(limit, 2) + unit + " n/a";
  return std::string(higherIsBetter ? "≥ " : "≤ ") + number(limit, 2) + unit +
         (meets(value, limit, higherIsBetter) ? " **met**" : " **missed**");
}

class TableWriter {
 public:
  TableWriter(std::ostream& out, const Results& r) : out_(out), r_(r) {}

  void write() {
    out_ << "| metric | relay | median | min–max | velotrunk ÷ relay | target |\n";
    out_ << "|---|---|---:|---:|---:|---|\n";
    for (int m = 0; m < kMetricCount; ++m) write_metric(static_cast<Metric>(m));
  }

 private:
  double med(const std::string& relay, Metric m) const {
    auto it = r_.byRelay.find(relay);
    return it == r_.byRelay.end() ? kNone : median(it->second[m].values);
  }

  // The peer with the best median for m, or "" when no peer has one.
  std::string best_peer(Metric m) const {
    std::string best;
    for (auto& relay : r_.relays) {
      double v = med(relay, m);
      if (relay == kSubject || std::isnan(v)) continue;
      if (best.empty() || meets(v, med(best, m), kInfo[m].higherIsBetter)) best = relay;
    }
    return best;
  }

  void write_metric(Metric m) {
    const MetricInfo& info = kInfo[m];
    double subject = med(kSubject, m);
    for (size_t i = 0; i < r_.relays.size(); ++i) {
      const std::string& relay = r_.relays[i];
      const Samples& s = r_.byRelay.at(relay)[m];
      double value = med(relay, m);
      std::string ratio = relay == kSubject ? "" : number(subject / value, 2) + "×";
      out_ << "| " << (i == 0 ? info.label : "") << " | " << relay << " | " << number(value, info.decimals)
           << " | " << spread(s, info.decimals) << " | " << ratio << " | " << targets_for(m, relay)
           << " |\n";
    }
  }

  std::string targets_for(Metric m, const std::string& relay) const {
    std::string text;
    double subject = med(kSubject, m);
    for (const Target& t : kTargets) {
      if (t.metric != m) continue;
      std::string one;
      if (t.kind == TargetKind::toPeer && relay == t.peer)
        one = verdict(subject / med(relay, m), t.limit, kInfo[m].higherIsBetter, "×");
      if (t.kind == TargetKind::toBestPeer && relay == best_peer(m))
        one = "best peer: " + verdict(subject / med(relay, m), t.limit, false, "×");
      if (t.kind == TargetKind::absolute && relay == kSubject)
        one = verdict(subject, t.limit, kInfo[m].higherIsBetter, "");
      if (t.kind == TargetKind::toOwnMetric && relay == kSubject)
        one = "÷ its " + std::string(t.baseName) + ": " + number(subject / med(relay, t.base), 2) + ", " +
              verdict(subject / med(relay, t.base), t.limit, false, "");
      if (!one.empty()) text += (text.empty() ? "" : "; ") + one;
    }
    return text;
  }

  std::ostream& out_;
  const Results& r_;
};

}  // namespace

void print_table(std::ostream& out, const Results& results) {
  TableWriter(out, results).write();
}

void print_resource_table(std::ostream& out, const std::vector<ResourceFigure>& figures) {
  out << "\n| resource | velotrunk | target |\n|---|---:|---|\n";
  for (const ResourceFigure& f : figures) {
    std::string value = f.failure.empty() ? number(f.value, f.decimals) : "failed: " + f.failure;
    std::string target;
    if (!std::isnan(f.limit)) {
      target = "< " + number(f.limit, f.decimals) + (f.limitNote.empty() ? "" : " (" + f.limitNote + ")");
      if (!std::isnan(f.value)) target += f.value < f.limit ? " **met**" : " **missed**";
    }
    out << "| " << f.label << " | " << value << " | " << target << " |\n";
  }
}

}  // namespace bench
