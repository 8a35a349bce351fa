#pragma once
// Ed25519 signature verification (RFC 8032, section 5.1.7), used to check that a build comes
// from the vendor. Everything it handles is public (keys, signatures, messages), so it makes no
// effort to run in constant time; it never signs.
#include <cstddef>
#include <cstdint>

constexpr size_t kEd25519KeyBytes = 32;
constexpr size_t kEd25519SignatureBytes = 64;

// True when `signature` (R, then S) is a valid signature of the message by `publicKey`. Refused:
// R or the key that is no point of the curve or not in canonical form, S not below the group
// order L. The check is the cofactored one, [8][S]B = [8]R + [8][k]A.
bool Ed25519Verify(const unsigned char publicKey[kEd25519KeyBytes], const void* message, size_t size,
                   const unsigned char signature[kEd25519SignatureBytes]);

// The arithmetic below the check, for the tests' signer (which holds a test key) only.
namespace ed25519_detail {
// [scalar]B for the 32-byte little-endian scalar, encoded as RFC 8032 section 5.1.2 says.
void BaseMultiple(const unsigned char scalar[32], unsigned char encoded[32]);
// The 64-byte little-endian number modulo L.
void ReduceScalar(const unsigned char wide[64], unsigned char scalar[32]);
// (a * b + c) mod L, all 32-byte little-endian.
void MultiplyAddScalars(const unsigned char a[32], const unsigned char b[32], const unsigned char c[32],
                        unsigned char out[32]);
}  // namespace ed25519_detail
