#pragma once
// The "stamp=" parameter of vendor service requests: the service's time text raised to
// the public key (plain RSA, no padding), as lowercase hexadecimal.
#include <string>

class CStampCoder {
 public:
  // With the built-in key of stamp_key.h. The empty text gives "0"; a text too long for the
  // big numbers (over 140 bytes) gives "".
  static std::string Encode(const std::string& text);
  // With a key given as decimal texts.
  static std::string Encode(const std::string& text, const std::string& modulus,
                            const std::string& exponent);
};
