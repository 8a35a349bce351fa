#pragma once
// Ed25519 signing (RFC 8032, section 5.1.6) for the tests, with the stand-in vendor's test key:
// the program and the updater only verify.
#include <cstring>
#include <string>

#include "upgrader/ed25519.h"
#include "upgrader/sha512.h"

// Seed of standins/vendor-service/keys/build_signing_key.txt, whose public half is the first of
// kBuildKeys; test-only, like the key file.
constexpr unsigned char kStandInBuildSeed[32] = {
    0x3c, 0x25, 0x7c, 0x2b, 0x7c, 0x70, 0x4d, 0xee, 0x7f, 0xf9, 0xb5, 0x8a, 0x4b, 0x6f, 0xfd, 0xbc,
    0x5f, 0xb8, 0x22, 0x51, 0xff, 0x52, 0xa3, 0x67, 0x40, 0xe6, 0x7c, 0x7d, 0x71, 0x63, 0x86, 0x8e};

inline void Ed25519PublicKey(const unsigned char seed[32], unsigned char publicKey[32]) {
  unsigned char h[64];
  CSha512 hash;
  hash.Update(seed, 32);
  hash.Digest(h);
  h[0] &= 248;
  h[31] = static_cast<unsigned char>((h[31] & 127) | 64);
  ed25519_detail::BaseMultiple(h, publicKey);
}

inline void Ed25519Sign(const unsigned char seed[32], const std::string& message, unsigned char signature[64]) {
  unsigned char h[64], a[32], publicKey[32], wide[64], r[32], k[32];
  CSha512 secret;
  secret.Update(seed, 32);
  secret.Digest(h);
  std::memcpy(a, h, 32);
  a[0] &= 248;
  a[31] = static_cast<unsigned char>((a[31] & 127) | 64);
  ed25519_detail::BaseMultiple(a, publicKey);
  CSha512 nonce;
  nonce.Update(h + 32, 32);
  nonce.Update(message.data(), message.size());
  nonce.Digest(wide);
  ed25519_detail::ReduceScalar(wide, r);
  ed25519_detail::BaseMultiple(r, signature);
  CSha512 challenge;
  challenge.Update(signature, 32);
  challenge.Update(publicKey, 32);
  challenge.Update(message.data(), message.size());
  challenge.Digest(wide);
  ed25519_detail::ReduceScalar(wide, k);
  ed25519_detail::MultiplyAddScalars(k, a, r, signature + 32);
}

inline std::string ToHex(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

// The .sig file the stand-in service publishes for `message`.
inline std::string StandInSignatureFile(const std::string& message) {
  unsigned char signature[64];
  Ed25519Sign(kStandInBuildSeed, message, signature);
  return ToHex(signature, 64) + "\n";
}
