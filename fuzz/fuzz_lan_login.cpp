// The login exchange against a board that sends any bytes and then closes:
// the login ends at once (never waits out its time-out), accepts only a full
// exchange whose verdict is type 6, and answers the challenge it was given.

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "FuzzRequire.h"
#include "lan_transport.h"
#include "password.h"

using namespace corvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  size = std::min<std::size_t>(size, 4096);  // well within the socket's buffer
  int pair[2];
  FUZZ_REQUIRE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0);
  const int board = pair[1];
  FUZZ_REQUIRE(::send(board, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size) || size == 0);
  ::shutdown(board, SHUT_WR);

  Digest digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(i * 5 + 1);
  CVX_STATUS status = 0;
  {
    const auto host = adopt_socket(pair[0]);
    FUZZ_REQUIRE(host != nullptr);
    status = lan_login(*host, digest, 7);
  }
  const bool complete = size >= 36;
  if (!complete)
    FUZZ_REQUIRE(status == CVX_SOCKET_ERROR);
  else
    FUZZ_REQUIRE(status == (data[28 + 4] == 6 ? CVX_OK : CVX_PASSWORD_REFUSED));

  // What the board heard: the request, then (once a challenge came) the answer to it.
  std::vector<std::uint8_t> heard(64);
  std::size_t got = 0;
  for (ssize_t n; got < heard.size() && (n = ::recv(board, heard.data() + got, heard.size() - got, 0)) > 0;)
    got += static_cast<std::size_t>(n);
  ::close(board);
  const std::uint8_t request[8] = {'N', 'C', 'V', 'X', 3, 0, 0, 0};
  FUZZ_REQUIRE(got >= 8 && std::memcmp(heard.data(), request, 8) == 0);
  if (size < 28) {
    FUZZ_REQUIRE(got == 8);
    return 0;
  }
  FUZZ_REQUIRE(got == 36);
  Challenge challenge{};
  std::memcpy(challenge.data(), data + 8, challenge.size());
  const LoginAnswer answer = login_answer(challenge, digest);
  FUZZ_REQUIRE(std::memcmp(heard.data() + 8, data, 4) == 0 && heard[12] == 5);
  FUZZ_REQUIRE(std::memcmp(heard.data() + 13, data + 5, 3) == 0);
  FUZZ_REQUIRE(std::memcmp(heard.data() + 16, answer.data(), answer.size()) == 0);
  return 0;
}
