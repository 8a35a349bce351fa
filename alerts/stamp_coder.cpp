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
  const CLongNumber power = m.PowMod(e, n);
  // A text or key too long for the numbers gives no stamp rather than a wrong one.
  if (power.Overflowed()) return std::string();
  std::string stamp = power.ToText(16);
  for (char& ch : stamp) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return stamp;
}
