#include "password.h"

#include "crypto.h"

namespace corvex {

Digest password_digest(std::string_view text) {
  return crypto::sha256({{reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}});
}

// The board maker's own default is not known to this library; "kestrel" is
// what a board fresh from the simulator expects, so the two work together as
// shipped. Corvex.ini can replace it.
Digest builtin_default_digest() { return password_digest("kestrel"); }

LoginAnswer login_answer(const Challenge& challenge, const Digest& digest) {
  return crypto::sha1({{challenge.data(), challenge.size()}, {digest.data(), digest.size()}});
}

std::optional<Digest> parse_digest(std::string_view hex) {
  if (hex.size() != 2 * Digest{}.size()) return std::nullopt;
  Digest out{};
  for (std::size_t i = 0; i < hex.size(); ++i) {
    const char c = hex[i];
    int v = 0;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      return std::nullopt;
    out[i / 2] = static_cast<std::uint8_t>(out[i / 2] << 4 | v);
  }
  return out;
}

}  // namespace corvex
