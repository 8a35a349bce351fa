#include "alerts/stamp_coder.h"

#include <cctype>

#include "alerts/long_number.h"
#include "alerts/stamp_key.h"

std::string CStampCoder::Encode(const std::string& text) {
  return Encode(text, kStampModulus, kStampExponent);
}

std::string CStampCoder::Encode(const std::string& text, const std::string& modulus,
                                const std::string& exponent) {
  CLongNumber n;
  CLongNumber e;
  CLongNumber m;
  n.FromText(modulus, 10);
  e.FromText(exponent, 10);
  m.FromBytes(text);
  std::string stamp = m.PowMod(e, n).ToText(16);
  for (char& ch : stamp) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return stamp;
}
