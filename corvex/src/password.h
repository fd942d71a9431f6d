// Password digests and the login answer.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace corvex {

using Digest = std::array<std::uint8_t, 32>;
using Challenge = std::array<std::uint8_t, 20>;
using LoginAnswer = std::array<std::uint8_t, 20>;

// SHA-256 of the text's bytes: the only form a password is kept in.
Digest password_digest(std::string_view text);

// The digest used until a caller or Corvex.ini sets another: SHA-256 of "kestrel".
Digest builtin_default_digest();

// SHA-1 over the challenge followed by the digest.
LoginAnswer login_answer(const Challenge& challenge, const Digest& digest);

// Exactly 64 hexadecimal digits, either case.
std::optional<Digest> parse_digest(std::string_view hex);

}  // namespace corvex
