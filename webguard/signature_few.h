#pragma once
// The signature matcher's path for a few signatures (up to kMaxSignatures, 3 bytes and more),
// where sampling every few bytes costs more than looking at all of them: each signature is
// fingerprinted by its rarest three neighbouring bytes, and 32 positions at a time are tested
// against all fingerprints at once (eight groups, a bit each, by the low and high half of each
// of the three bytes). Only where a fingerprint may begin are its signatures compared. Needs
// AVX2, asked for at run time; without it Build refuses and the gram filter is used.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "webguard/gbk_text.h"
#include "webguard/signature_filter.h"

class CFewSignatures {
 public:
  static constexpr size_t kMaxSignatures = 24;
  static constexpr size_t kPrint = 3;

  // Whether Build would take the set: at most kMaxSignatures, none shorter than kPrint bytes,
  // and the processor has AVX2.
  static bool Takes(const std::vector<std::string>& signatures);
  // false (and empty) when it does not take them.
  bool Build(const std::vector<std::string>& signatures);
  bool Empty() const { return m_signatures.empty(); }
  // As CSignatureFilter::Scan; signatures are told by their position in the list built from.
  CSignatureFilter::Outcome Scan(const char* text, size_t size, size_t workAllowance, size_t* resumeAt,
                                 CharStarts rule, IMatchSink& sink) const;
  size_t MemoryBytes() const;
  const std::vector<std::string>& Signatures() const { return m_signatures; }

 private:
  static constexpr size_t kGroups = 8;

  // The group whose share of text let through grows least by this fingerprint.
  size_t QuietestGroup(const unsigned char* print) const;

  // Group bits of the fingerprints by the low (m_low) and high (m_high) half of their k-th byte.
  uint8_t m_low[kPrint][16] = {};
  uint8_t m_high[kPrint][16] = {};
  std::vector<std::string> m_signatures;
  std::vector<size_t> m_printAt;                // where signature i's fingerprint begins in it
  std::vector<uint32_t> m_byGroup[kGroups];     // the signatures of each group
  size_t m_maxLength = 0;
};

// Whether the few-signature path may be used (the default); off, the gram filter takes every
// set. For tests that compare both.
void UseFewSignatures(bool allowed);
