// The relays under test and how each one is started.
#pragma once
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

struct RelayKind {
  std::string name;
  std::string program;  // what must be installed for this relay
  // Command line for a relay on listenPort towards 127.0.0.1:serverPort;
  // config files, if any, go to workDir.
  std::vector<std::string> (*command)(const RelayKind&, uint16_t listenPort, uint16_t serverPort,
                                      const std::string& workDir);
};

extern const char* const kSubject;  // the relay the others are compared with

// velotrunk-relay first, then the peers; selfExe runs the plain relay.
std::vector<RelayKind> relay_kinds(const std::string& velotrunkRelay, const std::string& selfExe);

// One running instance of a relay.
struct RelayInstance {
  pid_t pid = -1;
  uint16_t port = 0;
};

// Starts kind on listenPort towards 127.0.0.1:serverPort (with fdLimit above
// 0, under that descriptor limit) and returns once it accepts connections;
// throws NetError, its log named, when it does not.
RelayInstance start_relay(const RelayKind& kind, uint16_t listenPort, uint16_t serverPort,
                          const std::string& workDir, int fdLimit = 0);

}  // namespace bench
