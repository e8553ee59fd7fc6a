#pragma once
#include <cstdint>
#include <vector>

namespace bench {

// Serves echo, sink and source connections on each loopback port; never returns.
[[noreturn]] void run_server(const std::vector<uint16_t>& ports);

}  // namespace bench
