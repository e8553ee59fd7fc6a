#include "relays.h"

#include <chrono>
#include <fstream>
#include <thread>

#include "net.h"
#include "processes.h"

namespace bench {

const char* const kSubject = "velotrunk";

namespace {

using Args = std::vector<std::string>;

std::string text(uint16_t port) { return std::to_string(port); }

std::string write_file(const std::string& path, const std::string& contents) {
  std::ofstream(path) << contents;
  return path;
}

Args velotrunk(const RelayKind& k, uint16_t lp, uint16_t sp, const std::string&) {
  return {k.program, text(lp), "127.0.0.1", text(sp)};
}

Args plain(const RelayKind& k, uint16_t lp, uint16_t sp, const std::string&) {
  return {k.program, "plain-relay", text(lp), "127.0.0.1", text(sp)};
}

// Single-threaded haproxy in TCP mode; with splice the kernel moves the bytes.
Args haproxy_with(bool splice, uint16_t lp, uint16_t sp, const std::string& dir) {
  std::string cfg =
      "global\n  nbthread 1\n  maxconn 4000\n" + std::string(splice ? "" : "  nosplice\n") +
      "defaults\n  mode tcp\n  timeout connect 5s\n  timeout client 60s\n  timeout server 60s\n" +
      (splice ? "  option splice-request\n  option splice-response\n" : "") +
      "frontend in\n  bind 127.0.0.1:" + text(lp) + "\n  default_backend out\n" +
      "backend out\n  server s1 127.0.0.1:" + text(sp) + "\n";
  std::string name = dir + "/haproxy" + (splice ? "-splice-" : "-") + text(lp) + ".cfg";
  return {"haproxy", "-db", "-q", "-f", write_file(name, cfg)};
}

Args haproxy(const RelayKind&, uint16_t lp, uint16_t sp, const std::string& dir) {
  return haproxy_with(false, lp, sp, dir);
}

Args haproxy_splice(const RelayKind&, uint16_t lp, uint16_t sp, const std::string& dir) {
  return haproxy_with(true, lp, sp, dir);
}

// socat forks a process per connection.
Args socat(const RelayKind&, uint16_t lp, uint16_t sp, const std::string&) {
  return {"socat", "TCP4-LISTEN:" + text(lp) + ",bind=127.0.0.1,reuseaddr,fork,backlog=1024",
          "TCP4:127.0.0.1:" + text(sp)};
}

// redir forks a process per connection.
Args redir(const RelayKind&, uint16_t lp, uint16_t sp, const std::string&) {
  return {"redir", "-n", "-l", "err", "127.0.0.1:" + text(lp), "127.0.0.1:" + text(sp)};
}

Args rinetd(const RelayKind&, uint16_t lp, uint16_t sp, const std::string& dir) {
  std::string cfg = "127.0.0.1 " + text(lp) + " 127.0.0.1 " + text(sp) + "\n";
  return {"rinetd", "-f", "-c", write_file(dir + "/rinetd-" + text(lp) + ".conf", cfg)};
}

}  // namespace

RelayInstance start_relay(const RelayKind& kind, uint16_t listenPort, uint16_t serverPort,
                          const std::string& workDir, int fdLimit) {
  std::string log = workDir + "/" + kind.name + ".log";
  pid_t pid = spawn(kind.command(kind, listenPort, serverPort, workDir), log, fdLimit);
  if (!wait_for_port(listenPort, pid, 5)) {
    stop(pid);
    throw NetError(kind.name + " did not start (see " + log + ")");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it finish starting
  return {pid, listenPort};
}

std::vector<RelayKind> relay_kinds(const std::string& velotrunkRelay, const std::string& selfExe) {
  return {
      {kSubject, velotrunkRelay, velotrunk},
      {"plain-64k", selfExe, plain},
      {"haproxy", "haproxy", haproxy},
      {"haproxy-splice", "haproxy", haproxy_splice},
      {"socat", "socat", socat},
      {"redir", "redir", redir},
      {"rinetd", "rinetd", rinetd},
  };
}

}  // namespace bench
