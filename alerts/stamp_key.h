#pragma once
// Public half of the request stamp key, written by
// standins/vendor-service/keys/make_stamp_key.py; the vendor service
// holds the private exponent. Modulus: 248 bits, 75 decimal digits.

constexpr const char kStampModulus[] = "348409520930432537047091105523701876823497767569336812323787887376602838359";
constexpr const char kStampExponent[] = "21593937256145043947";
