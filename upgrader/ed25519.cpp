#include "upgrader/ed25519.h"

#include <cstring>

#include "upgrader/sha512.h"

// Field elements modulo p = 2^255 - 19 and scalars modulo L are eight 32-bit limbs, least
// significant first. Field values are kept below 2^256 and made canonical (below p) only where
// they are compared or encoded; 2^256 = 38 (mod p) folds every carry out of the top limb.
namespace {

struct Fe {
  uint32_t v[8];
};

constexpr Fe kZero = {{0, 0, 0, 0, 0, 0, 0, 0}};
constexpr Fe kOne = {{1, 0, 0, 0, 0, 0, 0, 0}};
constexpr uint32_t kP[8] = {0xffffffed, 0xffffffff, 0xffffffff, 0xffffffff,
                            0xffffffff, 0xffffffff, 0xffffffff, 0x7fffffff};
// Exponents: p - 2 (inverse), (p - 5) / 8 (square root of a ratio), (p - 1) / 4 (square root of -1).
constexpr uint32_t kPMinus2[8] = {0xffffffeb, 0xffffffff, 0xffffffff, 0xffffffff,
                                  0xffffffff, 0xffffffff, 0xffffffff, 0x7fffffff};
constexpr uint32_t kPMinus5Over8[8] = {0xfffffffd, 0xffffffff, 0xffffffff, 0xffffffff,
                                       0xffffffff, 0xffffffff, 0xffffffff, 0x0fffffff};
constexpr uint32_t kPMinus1Over4[8] = {0xfffffffb, 0xffffffff, 0xffffffff, 0xffffffff,
                                       0xffffffff, 0xffffffff, 0xffffffff, 0x1fffffff};
// L = 2^252 + 27742317777372353535851937790883648493, the order of the base point.
constexpr uint32_t kL[8] = {0x5cf5d3ed, 0x5812631a, 0xa2f79cd6, 0x14def9de, 0, 0, 0, 0x10000000};

// Adds carry * 2^256, that is carry * 38, until nothing is carried out of the top limb.
void FoldCarry(uint32_t r[8], uint64_t carry) {
  while (carry != 0) {
    uint64_t x = carry * 38;
    for (int i = 0; i < 8; ++i) {
      x += r[i];
      r[i] = static_cast<uint32_t>(x);
      x >>= 32;
    }
    carry = x;
  }
}

Fe Add(const Fe& a, const Fe& b) {
  Fe r;
  uint64_t x = 0;
  for (int i = 0; i < 8; ++i) {
    x += uint64_t(a.v[i]) + b.v[i];
    r.v[i] = static_cast<uint32_t>(x);
    x >>= 32;
  }
  FoldCarry(r.v, x);
  return r;
}

// r - b with the borrow out of the top limb (0 or 1).
uint32_t SubtractLimbs(uint32_t r[8], const uint32_t b[8]) {
  uint64_t borrow = 0;
  for (int i = 0; i < 8; ++i) {
    const uint64_t x = uint64_t(r[i]) - b[i] - borrow;
    r[i] = static_cast<uint32_t>(x);
    borrow = x >> 63;
  }
  return static_cast<uint32_t>(borrow);
}

Fe Sub(const Fe& a, const Fe& b) {
  Fe r = a;
  // A borrow leaves r + 2^256, which is r + 38: take 38 away again until no borrow is left.
  static constexpr uint32_t k38[8] = {38, 0, 0, 0, 0, 0, 0, 0};
  uint32_t borrow = SubtractLimbs(r.v, b.v);
  while (borrow != 0) borrow = SubtractLimbs(r.v, k38);
  return r;
}

Fe Neg(const Fe& a) { return Sub(kZero, a); }

Fe Mul(const Fe& a, const Fe& b) {
  uint32_t t[16] = {};
  for (int i = 0; i < 8; ++i) {
    uint64_t carry = 0;
    for (int j = 0; j < 8; ++j) {
      const uint64_t x = t[i + j] + uint64_t(a.v[i]) * b.v[j] + carry;
      t[i + j] = static_cast<uint32_t>(x);
      carry = x >> 32;
    }
    t[i + 8] = static_cast<uint32_t>(carry);
  }
  Fe r;
  uint64_t x = 0;
  for (int i = 0; i < 8; ++i) {
    x += t[i] + uint64_t(t[i + 8]) * 38;
    r.v[i] = static_cast<uint32_t>(x);
    x >>= 32;
  }
  FoldCarry(r.v, x);
  return r;
}

// The same value below p (a value below 2^256 is less than 2p + 38, so two steps suffice).
Fe Canonical(const Fe& a) {
  Fe r = a;
  for (int step = 0; step < 2; ++step) {
    Fe t = r;
    if (SubtractLimbs(t.v, kP) == 0) r = t;
  }
  return r;
}

bool Equal(const Fe& a, const Fe& b) {
  const Fe x = Canonical(a), y = Canonical(b);
  return std::memcmp(x.v, y.v, sizeof x.v) == 0;
}

bool IsOdd(const Fe& a) { return (Canonical(a).v[0] & 1) != 0; }

Fe Pow(const Fe& a, const uint32_t exponent[8]) {
  Fe r = kOne;
  for (int bit = 255; bit >= 0; --bit) {
    r = Mul(r, r);
    if ((exponent[bit / 32] >> (bit % 32)) & 1) r = Mul(r, a);
  }
  return r;
}

Fe Inverse(const Fe& a) { return Pow(a, kPMinus2); }

void LimbsFromBytes(const unsigned char* bytes, size_t limbs, uint32_t* out) {
  for (size_t i = 0; i < limbs; ++i)
    out[i] = uint32_t(bytes[4 * i]) | uint32_t(bytes[4 * i + 1]) << 8 | uint32_t(bytes[4 * i + 2]) << 16 |
             uint32_t(bytes[4 * i + 3]) << 24;
}

void BytesFromLimbs(const uint32_t* limbs, size_t count, unsigned char* out) {
  for (size_t i = 0; i < count; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<unsigned char>(limbs[i] >> (8 * j));
}

// Extended homogeneous coordinates: x = X/Z, y = Y/Z, x*y = T/Z.
struct Point {
  Fe X, Y, Z, T;
};

struct Curve {
  Fe d, d2, sqrtMinus1;
  Point base;
};

const Curve& TheCurve();

// RFC 8032 section 5.1.4; the formula is complete, so it also doubles.
Point AddPoints(const Point& p, const Point& q) {
  const Curve& curve = TheCurve();
  const Fe a = Mul(Sub(p.Y, p.X), Sub(q.Y, q.X));
  const Fe b = Mul(Add(p.Y, p.X), Add(q.Y, q.X));
  const Fe c = Mul(Mul(p.T, curve.d2), q.T);
  const Fe d = Mul(Add(p.Z, p.Z), q.Z);
  const Fe e = Sub(b, a), f = Sub(d, c), g = Add(d, c), h = Add(b, a);
  return {Mul(e, f), Mul(g, h), Mul(f, g), Mul(e, h)};
}

Point Multiple(const Point& p, const unsigned char scalar[32]) {
  Point r = {kZero, kOne, kOne, kZero};
  for (int bit = 255; bit >= 0; --bit) {
    r = AddPoints(r, r);
    if ((scalar[bit / 8] >> (bit % 8)) & 1) r = AddPoints(r, p);
  }
  return r;
}

// RFC 8032 section 5.1.3, with `d` and the square root of -1 passed in while the curve's
// constants are being made.
bool DecodePoint(const unsigned char bytes[32], const Fe& d, const Fe& sqrtMinus1, Point& point) {
  unsigned char yBytes[32];
  std::memcpy(yBytes, bytes, 32);
  const bool xOdd = (yBytes[31] & 0x80) != 0;
  yBytes[31] &= 0x7f;
  Fe y;
  LimbsFromBytes(yBytes, 8, y.v);
  const Fe yReduced = Canonical(y);
  if (std::memcmp(y.v, yReduced.v, sizeof y.v) != 0) return false;  // y >= p
  const Fe y2 = Mul(y, y);
  const Fe u = Sub(y2, kOne);
  const Fe v = Add(Mul(d, y2), kOne);
  const Fe v3 = Mul(Mul(v, v), v);
  const Fe v7 = Mul(Mul(v3, v3), v);
  Fe x = Mul(Mul(u, v3), Pow(Mul(u, v7), kPMinus5Over8));
  const Fe vx2 = Mul(v, Mul(x, x));
  if (Equal(vx2, Neg(u)))
    x = Mul(x, sqrtMinus1);
  else if (!Equal(vx2, u))
    return false;  // no square root: not a point of the curve
  x = Canonical(x);
  if (Equal(x, kZero) && xOdd) return false;
  if (IsOdd(x) != xOdd) x = Neg(x);
  point = {x, y, kOne, Mul(x, y)};
  return true;
}

void EncodePoint(const Point& p, unsigned char out[32]) {
  const Fe zInverse = Inverse(p.Z);
  const Fe x = Canonical(Mul(p.X, zInverse));
  const Fe y = Canonical(Mul(p.Y, zInverse));
  BytesFromLimbs(y.v, 8, out);
  out[31] = static_cast<unsigned char>(out[31] | (x.v[0] & 1) << 7);
}

Curve MakeCurve() {
  Curve curve;
  const Fe n121665 = {{121665, 0, 0, 0, 0, 0, 0, 0}};
  const Fe n121666 = {{121666, 0, 0, 0, 0, 0, 0, 0}};
  curve.d = Mul(Neg(n121665), Inverse(n121666));  // d = -121665/121666
  curve.d2 = Add(curve.d, curve.d);
  const Fe two = {{2, 0, 0, 0, 0, 0, 0, 0}};
  curve.sqrtMinus1 = Pow(two, kPMinus1Over4);
  // B: y = 4/5 with the even x.
  unsigned char base[32];
  std::memset(base, 0x66, sizeof base);
  base[0] = 0x58;
  DecodePoint(base, curve.d, curve.sqrtMinus1, curve.base);
  return curve;
}

const Curve& TheCurve() {
  static const Curve curve = MakeCurve();
  return curve;
}

bool LimbsBelow(const uint32_t a[8], const uint32_t b[8]) {
  for (int i = 7; i >= 0; --i)
    if (a[i] != b[i]) return a[i] < b[i];
  return false;
}

// A number of `count` limbs modulo L, one bit at a time from the top (r stays below L < 2^253,
// so doubling it never leaves eight limbs).
void ReduceLimbs(const uint32_t* wide, size_t count, unsigned char out[32]) {
  uint32_t r[8] = {};
  for (size_t bit = count * 32; bit-- > 0;) {
    uint32_t carry = (wide[bit / 32] >> (bit % 32)) & 1;
    for (int i = 0; i < 8; ++i) {
      const uint32_t top = r[i] >> 31;
      r[i] = r[i] << 1 | carry;
      carry = top;
    }
    if (!LimbsBelow(r, kL)) SubtractLimbs(r, kL);
  }
  BytesFromLimbs(r, 8, out);
}

}  // namespace

bool Ed25519Verify(const unsigned char publicKey[kEd25519KeyBytes], const void* message, size_t size,
                   const unsigned char signature[kEd25519SignatureBytes]) {
  const Curve& curve = TheCurve();
  Point a, r;
  if (!DecodePoint(publicKey, curve.d, curve.sqrtMinus1, a) || !DecodePoint(signature, curve.d, curve.sqrtMinus1, r))
    return false;
  uint32_t s[8];
  LimbsFromBytes(signature + 32, 8, s);
  if (!LimbsBelow(s, kL)) return false;
  CSha512 hash;
  hash.Update(signature, 32);
  hash.Update(publicKey, kEd25519KeyBytes);
  hash.Update(message, size);
  unsigned char digest[64], k[32];
  hash.Digest(digest);
  ed25519_detail::ReduceScalar(digest, k);
  Point left = Multiple(curve.base, signature + 32);
  Point right = AddPoints(r, Multiple(a, k));
  for (int i = 0; i < 3; ++i) {
    left = AddPoints(left, left);
    right = AddPoints(right, right);
  }
  return Equal(Mul(left.X, right.Z), Mul(right.X, left.Z)) && Equal(Mul(left.Y, right.Z), Mul(right.Y, left.Z));
}

namespace ed25519_detail {

void BaseMultiple(const unsigned char scalar[32], unsigned char encoded[32]) {
  EncodePoint(Multiple(TheCurve().base, scalar), encoded);
}

void ReduceScalar(const unsigned char wide[64], unsigned char scalar[32]) {
  uint32_t limbs[16];
  LimbsFromBytes(wide, 16, limbs);
  ReduceLimbs(limbs, 16, scalar);
}

void MultiplyAddScalars(const unsigned char a[32], const unsigned char b[32], const unsigned char c[32],
                        unsigned char out[32]) {
  uint32_t x[8], y[8], z[8], t[16] = {};
  LimbsFromBytes(a, 8, x);
  LimbsFromBytes(b, 8, y);
  LimbsFromBytes(c, 8, z);
  for (int i = 0; i < 8; ++i) {
    uint64_t carry = 0;
    for (int j = 0; j < 8; ++j) {
      const uint64_t v = t[i + j] + uint64_t(x[i]) * y[j] + carry;
      t[i + j] = static_cast<uint32_t>(v);
      carry = v >> 32;
    }
    t[i + 8] = static_cast<uint32_t>(carry);
  }
  uint64_t carry = 0;  // a * b + c < 2^512: nothing leaves the sixteenth limb
  for (int i = 0; i < 16; ++i) {
    carry += uint64_t(t[i]) + (i < 8 ? z[i] : 0);
    t[i] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  ReduceLimbs(t, 16, out);
}

}  // namespace ed25519_detail
