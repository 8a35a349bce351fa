#pragma once
// The signature matcher's path for short signatures (2 to kShortBelow - 1 bytes), which would
// force the gram filter to sample every byte or two. Each short signature is keyed by its rarest
// pair of neighbouring bytes in ordinary web scripts; the text is searched for the few key pairs,
// sixteen positions at a time where the processor allows, and only where one occurs are the
// signatures it keys compared.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "webguard/signature_filter.h"

// Whether more than four key pairs may be looked for by nibble tables where the processor has
// SSSE3 (the default); off, they are compared one by one. For tests that compare both.
void UseShortPairTables(bool allowed);

class CShortSignatures {
 public:
  static constexpr size_t kShortBelow = 8;
  static constexpr size_t kMaxKeys = 16;

  // signatures[i] (2 to kShortBelow - 1 bytes) is reported as ids[i]. When more than kMaxKeys
  // distinct pairs would be needed, the pairs that key the most signatures are taken and the
  // signatures they do not key are left out, their positions in *left.
  void Build(const std::vector<std::string>& signatures, const std::vector<uint32_t>& ids,
             std::vector<size_t>* left);
  bool Empty() const { return m_entries.empty(); }
  // As CSignatureFilter::Scan.
  CSignatureFilter::Outcome Scan(const char* text, size_t size, size_t workAllowance, size_t* resumeAt,
                                 CharStarts rule, IMatchSink& sink) const;
  size_t MemoryBytes() const;
  // Appends its signatures to *signatures at their ids (the vector is large enough).
  void CopyTo(std::vector<std::string>* signatures) const;

 private:
  struct CEntry {
    // The signature's bytes as loaded from memory, and which of the eight are its own.
    uint64_t bytes = 0;
    uint64_t mask = 0;
    uint32_t id = 0;
    uint32_t poolAt = 0;
    uint8_t length = 0;
    uint8_t keyOffset = 0;  // of the key pair inside the signature
  };

  // Key pair k: m_first[k] then m_second[k]; its entries: m_entries[m_byKey[k] .. m_byKey[k + 1]).
  unsigned char m_first[kMaxKeys] = {};
  unsigned char m_second[kMaxKeys] = {};
  size_t m_keyCount = 0;
  // Keys 8g .. 8g+7, bit k % 8 in each: by the low and high nibble of the first byte, then of
  // the second (see FindPairBlock).
  uint8_t m_nibbles[kMaxKeys / 8][4][16] = {};
  size_t m_maxLength = 0;
  std::vector<uint32_t> m_byKey;
  std::vector<uint8_t> m_keyOfPair;  // by the pair's two bytes: its key, or kMaxKeys
  std::vector<CEntry> m_entries;
  std::string m_pool;
};
