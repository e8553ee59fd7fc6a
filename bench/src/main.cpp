// velotrunk-bench: the benchmark's server, reference relay and driver in one binary.
//   velotrunk-bench run [options]              measure every relay, print the table
//   velotrunk-bench server PORT...             sink/echo/source server (started by run)
//   velotrunk-bench plain-relay LPORT ADDR PORT  the plain 64 KiB reference relay
#include <climits>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "driver.h"
#include "net.h"
#include "plain_relay.h"
#include "server.h"

namespace {

const char* const kUsage =
    "usage: velotrunk-bench run --relay PATH --work-dir DIR [--rounds N] [--scale X]\n"
    "                           [--relay-ports BASE] [--server-ports BASE] [--idle N] [--only a,b,...]\n"
    "                           [--resources full|quick|off]\n"
    "       velotrunk-bench server PORT...\n"
    "       velotrunk-bench plain-relay LISTEN_PORT SERVER_ADDRESS SERVER_PORT\n";

int usage() {
  std::cerr << kUsage;
  return 2;
}

uint16_t port_arg(const std::string& text) {
  long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < 1 || v > 65535) throw std::invalid_argument("bad port: " + text);
  return static_cast<uint16_t>(v);
}

std::string self_exe() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "velotrunk-bench";
}

std::vector<std::string> split(const std::string& list) {
  std::vector<std::string> out;
  std::stringstream in(list);
  for (std::string item; std::getline(in, item, ',');)
    if (!item.empty()) out.push_back(item);
  return out;
}

int run(int argc, char** argv) {
  bench::DriverOptions o;
  for (int i = 2; i + 1 < argc; i += 2) {
    std::string key = argv[i], value = argv[i + 1];
    if (key == "--relay") o.velotrunkRelay = value;
    else if (key == "--work-dir") o.workDir = value;
    else if (key == "--rounds") o.rounds = std::max(1, std::atoi(value.c_str()));
    else if (key == "--scale") o.scale = std::max(0.05, std::atof(value.c_str()));
    else if (key == "--relay-ports") o.relayPortBase = port_arg(value);
    else if (key == "--server-ports") o.serverPortBase = port_arg(value);
    else if (key == "--idle") o.idleConnections = std::max(1, std::atoi(value.c_str()));
    else if (key == "--only") o.only = split(value);
    else if (key == "--resources" && (value == "full" || value == "quick" || value == "off")) o.resources = value;
    else return usage();
  }
  if (argc % 2 != 0 || o.workDir.empty()) return usage();
  return bench::run_driver(o, self_exe());
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  try {
    if (command == "run") return run(argc, argv);
    if (command == "server" && argc > 2) {
      bench::raise_fd_limit();
      std::vector<uint16_t> ports;
      for (int i = 2; i < argc; ++i) ports.push_back(port_arg(argv[i]));
      bench::run_server(ports);
    }
    if (command == "plain-relay" && argc == 5) {
      bench::raise_fd_limit();
      bench::run_plain_relay(port_arg(argv[2]), argv[3], port_arg(argv[4]));
    }
  } catch (const std::exception& e) {
    std::cerr << "velotrunk-bench: " << e.what() << "\n";
    return 1;
  }
  return usage();
}
