// Discovery answers as they arrive, any bytes: a run of datagrams (each a
// length byte and that many bytes) stored as the discovery loop stores them.
// Only answers are kept, never more than an entry holds, and the list reads
// back with the sender's address in every entry.

#include <cstdio>
#include <cstring>
#include <vector>

#include "FuzzRequire.h"
#include "lan_discovery.h"

using namespace corvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static DiscoveryList list;
  list[0].fill(0);
  std::size_t stored = 0, at = 0;
  while (at < size && stored < list.size()) {
    // The receive buffer is one entry long; longer datagrams arrive cut.
    const std::size_t declared = data[at++];
    const std::size_t length = std::min(declared, size - at);
    const std::vector<std::uint8_t> datagram(data + at, data + at + std::min(length, kDiscoveryEntry));
    at += length;
    const bool answer =
        datagram.size() >= 8 && std::memcmp(datagram.data(), "NCVX", 4) == 0 && datagram[4] == 2;
    FUZZ_REQUIRE(store_answer(list[stored], datagram.data(), datagram.size(), "10.77.0.2") == answer);
    if (!answer) continue;
    const DiscoveryEntry& e = list[stored++];
    const std::size_t kept = datagram.size() < kDiscoveryAnswer ? 8 : kDiscoveryAnswer;
    FUZZ_REQUIRE(std::memcmp(e.data(), datagram.data(), kept) == 0);
    for (std::size_t i = kept; i < kDiscoveryAnswer; ++i) FUZZ_REQUIRE(e[i] == 0);
    FUZZ_REQUIRE(discovered_address(e) == "10.77.0.2");
  }
  if (stored < list.size()) list[stored].fill(0);
  FUZZ_REQUIRE(discovered(list) == stored);
  return 0;
}
