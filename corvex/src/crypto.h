// The hashes and the stream cipher of the LAN login and of user program
// images, from a crypto library: Nettle, or libgcrypt where the build picks
// it (CORVEX_WITH_GCRYPT: the Windows cross toolchain has no Nettle).
// Header-only, so every target that compiles the callers gets it without a
// source of its own.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

#ifdef CORVEX_WITH_GCRYPT
#include <gcrypt.h>

#include <vector>
#else
#include <nettle/arcfour.h>
#include <nettle/md5.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>
#endif

namespace corvex::crypto {

using Bytes = std::span<const std::uint8_t>;
using Sha1 = std::array<std::uint8_t, 20>;
using Sha256 = std::array<std::uint8_t, 32>;
using Md5 = std::array<std::uint8_t, 16>;

#ifdef CORVEX_WITH_GCRYPT

namespace detail {

// libgcrypt wants its version check before first use; an application that
// made it already is left as it set the library up.
inline void start() {
  static const bool started = [] {
    if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
      gcry_check_version(nullptr);
      gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    }
    return true;
  }();
  (void)started;
}

template <std::size_t N>
std::array<std::uint8_t, N> hash(int algorithm, std::initializer_list<Bytes> parts) {
  start();
  std::vector<std::uint8_t> all;
  for (Bytes p : parts) all.insert(all.end(), p.data(), p.data() + p.size());
  std::array<std::uint8_t, N> out{};
  gcry_md_hash_buffer(algorithm, out.data(), all.data(), all.size());
  return out;
}

}  // namespace detail

// Each hashes its parts one after the other.
inline Sha1 sha1(std::initializer_list<Bytes> parts) { return detail::hash<20>(GCRY_MD_SHA1, parts); }
inline Sha256 sha256(std::initializer_list<Bytes> parts) { return detail::hash<32>(GCRY_MD_SHA256, parts); }
inline Md5 md5(std::initializer_list<Bytes> parts) { return detail::hash<16>(GCRY_MD_MD5, parts); }

// RC4 over data in place. Should the library refuse, the data stays as it was,
// and its check sum then fails.
inline void arcfour(Bytes key, std::span<std::uint8_t> data) {
  detail::start();
  gcry_cipher_hd_t h = nullptr;
  if (gcry_cipher_open(&h, GCRY_CIPHER_ARCFOUR, GCRY_CIPHER_MODE_STREAM, 0) != 0) return;
  if (gcry_cipher_setkey(h, key.data(), key.size()) == 0 && !data.empty())
    gcry_cipher_encrypt(h, data.data(), data.size(), nullptr, 0);
  gcry_cipher_close(h);
}

// RC4 over data in place, `piece` bytes at a time, handing each piece to
// `done` while it is still in cache. Should the library refuse, `done` sees
// the data as it was.
template <typename Done>
void arcfour_pieces(Bytes key, std::span<std::uint8_t> data, std::size_t piece, Done&& done) {
  detail::start();
  gcry_cipher_hd_t h = nullptr;
  const bool open = gcry_cipher_open(&h, GCRY_CIPHER_ARCFOUR, GCRY_CIPHER_MODE_STREAM, 0) == 0;
  const bool keyed = open && gcry_cipher_setkey(h, key.data(), key.size()) == 0;
  for (std::size_t at = 0; at < data.size(); at += piece) {
    const std::span<std::uint8_t> part = data.subspan(at, std::min(piece, data.size() - at));
    if (keyed) gcry_cipher_encrypt(h, part.data(), part.size(), nullptr, 0);
    done(part);
  }
  if (open) gcry_cipher_close(h);
}

#else

// Each hashes its parts one after the other.
inline Sha1 sha1(std::initializer_list<Bytes> parts) {
  sha1_ctx ctx;
  sha1_init(&ctx);
  for (Bytes p : parts) sha1_update(&ctx, p.size(), p.data());
  Sha1 out{};
  sha1_digest(&ctx, out.size(), out.data());
  return out;
}

inline Sha256 sha256(std::initializer_list<Bytes> parts) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  for (Bytes p : parts) sha256_update(&ctx, p.size(), p.data());
  Sha256 out{};
  sha256_digest(&ctx, out.size(), out.data());
  return out;
}

inline Md5 md5(std::initializer_list<Bytes> parts) {
  md5_ctx ctx;
  md5_init(&ctx);
  for (Bytes p : parts) md5_update(&ctx, p.size(), p.data());
  Md5 out{};
  md5_digest(&ctx, out.size(), out.data());
  return out;
}

// RC4 over data in place.
inline void arcfour(Bytes key, std::span<std::uint8_t> data) {
  arcfour_ctx ctx;
  arcfour_set_key(&ctx, key.size(), key.data());
  if (!data.empty()) arcfour_crypt(&ctx, data.size(), data.data(), data.data());
}

// RC4 over data in place, `piece` bytes at a time, handing each piece to
// `done` while it is still in cache.
template <typename Done>
void arcfour_pieces(Bytes key, std::span<std::uint8_t> data, std::size_t piece, Done&& done) {
  arcfour_ctx ctx;
  arcfour_set_key(&ctx, key.size(), key.data());
  for (std::size_t at = 0; at < data.size(); at += piece) {
    const std::span<std::uint8_t> part = data.subspan(at, std::min(piece, data.size() - at));
    arcfour_crypt(&ctx, part.size(), part.data(), part.data());
    done(part);
  }
}

#endif

}  // namespace corvex::crypto
