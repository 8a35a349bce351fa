#include "webguard/signature_few.h"

#include <atomic>
#include <cmath>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define TAVRICK_FEW_AVX2 1
#endif

namespace {

std::atomic<bool> g_bFewAllowed{true};

bool HasAvx2() {
#if defined(TAVRICK_FEW_AVX2)
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
#else
  return false;
#endif
}

#if defined(TAVRICK_FEW_AVX2)
// Bit g of byte j: a fingerprint of group g may begin at p + j.
__attribute__((target("avx2"), always_inline)) inline __m256i GroupsAt(const unsigned char* p, const __m256i* lowTable,
                                                                        const __m256i* highTable) {
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  __m256i all = _mm256_set1_epi8(static_cast<char>(0xFF));
  for (size_t k = 0; k < CFewSignatures::kPrint; ++k) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k));
    all = _mm256_and_si256(all, _mm256_and_si256(_mm256_shuffle_epi8(lowTable[k], _mm256_and_si256(v, nibble)),
                                                 _mm256_shuffle_epi8(highTable[k], _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble))));
  }
  return all;
}

__attribute__((target("avx2"), always_inline)) inline unsigned Positions(__m256i groups) {
  return ~static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(groups, _mm256_setzero_si256())));
}

// The first block of 32 positions from x on (while x + 32 + kPrint - 1 <= size) where a
// fingerprint may begin; *found: bit j for position x + j. Returns where it stopped (none found:
// the first x past the last whole block). The tables stay in registers between blocks.
__attribute__((target("avx2"))) size_t FindCandidateBlock(const unsigned char* t, size_t x, size_t size,
                                                           const uint8_t (*low)[16], const uint8_t (*high)[16],
                                                           unsigned* found) {
  constexpr size_t kPrint = CFewSignatures::kPrint;
  __m256i lowTable[kPrint], highTable[kPrint];
  for (size_t k = 0; k < kPrint; ++k) {
    lowTable[k] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low[k])));
    highTable[k] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(high[k])));
  }
  // Two blocks at a time, tested together: candidates are rare.
  for (; x + 64 + kPrint - 1 <= size; x += 64) {
    const __m256i first = GroupsAt(t + x, lowTable, highTable), second = GroupsAt(t + x + 32, lowTable, highTable);
    if (_mm256_testz_si256(_mm256_or_si256(first, second), _mm256_or_si256(first, second))) continue;
    *found = Positions(first);
    if (*found != 0) return x;
    *found = Positions(second);
    return x + 32;
  }
  for (; x + 32 + kPrint - 1 <= size; x += 32) {
    *found = Positions(GroupsAt(t + x, lowTable, highTable));
    if (*found != 0) return x;
  }
  return x;
}
#endif

}  // namespace

void UseFewSignatures(bool allowed) { g_bFewAllowed.store(allowed, std::memory_order_relaxed); }

bool CFewSignatures::Takes(const std::vector<std::string>& signatures) {
  if (!g_bFewAllowed.load(std::memory_order_relaxed) || !HasAvx2() || signatures.empty() ||
      signatures.size() > kMaxSignatures) {
    return false;
  }
  for (const std::string& s : signatures) {
    if (s.size() < kPrint) return false;
  }
  return true;
}

bool CFewSignatures::Build(const std::vector<std::string>& signatures) {
  *this = CFewSignatures();
  if (!Takes(signatures)) return false;
  m_signatures = signatures;
  for (size_t i = 0; i < signatures.size(); ++i) {
    const auto* p = reinterpret_cast<const unsigned char*>(signatures[i].data());
    // The rarest three bytes in a row.
    size_t best = 0;
    int bestRarity = -1;
    for (size_t at = 0; at + kPrint <= signatures[i].size(); ++at) {
      const int rarity = RarityInScripts(p + at, kPrint);
      if (rarity > bestRarity) {
        bestRarity = rarity;
        best = at;
      }
    }
    const size_t group = i < kGroups ? i : QuietestGroup(p + best);
    m_printAt.push_back(best);
    m_byGroup[group].push_back(static_cast<uint32_t>(i));
    for (size_t k = 0; k < kPrint; ++k) {
      m_low[k][p[best + k] & 0x0F] |= static_cast<uint8_t>(1u << group);
      m_high[k][p[best + k] >> 4] |= static_cast<uint8_t>(1u << group);
    }
    m_maxLength = std::max(m_maxLength, signatures[i].size());
  }
  return true;
}

size_t CFewSignatures::QuietestGroup(const unsigned char* print) const {
  // A group lets through every byte whose halves some fingerprint of it has, so two
  // fingerprints in one group also admit their crossings ("/*'" and "<?p" admit "// "). How
  // often a group fires is estimated by the byte shares behind ByteRarity (about 2^(-rarity/2)).
  auto fires = [&](size_t group, const unsigned char* added) {
    double product = 1;
    for (size_t k = 0; k < kPrint; ++k) {
      double share = 0;
      for (int c = 0; c < 256; ++c) {
        const bool low = (m_low[k][c & 0x0F] >> group & 1) || (added && (added[k] & 0x0F) == (c & 0x0F));
        const bool high = (m_high[k][c >> 4] >> group & 1) || (added && added[k] >> 4 == c >> 4);
        if (low && high) share += std::exp2(-ByteRarity(static_cast<unsigned char>(c)) / 2.0);
      }
      product *= share;
    }
    return product;
  };
  size_t quietest = 0;
  double least = 0;
  for (size_t group = 0; group < kGroups; ++group) {
    const double more = fires(group, print) - fires(group, nullptr);
    if (group == 0 || more < least) {
      least = more;
      quietest = group;
    }
  }
  return quietest;
}

CSignatureFilter::Outcome CFewSignatures::Scan(const char* text, size_t size, size_t workAllowance,
                                               size_t* resumeAt, CharStarts rule, IMatchSink& sink) const {
  using Outcome = CSignatureFilter::Outcome;
  if (Empty() || size < kPrint) return Outcome::kNoMatch;
  const auto* t = reinterpret_cast<const unsigned char*>(text);
  CGbkCharStarts starts(t, size);
  size_t work = 0;
  // The groups whose fingerprint may begin at x, and their signatures compared.
  auto verify = [&](size_t x) {
    unsigned groups = 0xFF;
    for (size_t k = 0; k < kPrint; ++k) groups &= m_low[k][t[x + k] & 0x0F] & m_high[k][t[x + k] >> 4];
    for (; groups != 0; groups &= groups - 1) {
      for (uint32_t i : m_byGroup[__builtin_ctz(groups)]) {
        if (++work > workAllowance + x) {
          *resumeAt = starts.StartAtOrBefore(x > m_maxLength ? x - m_maxLength : 0);
          return Outcome::kTooMuchWork;
        }
        const std::string& s = m_signatures[i];
        if (x < m_printAt[i]) continue;
        const size_t from = x - m_printAt[i];
        if (from + s.size() > size || !SameBytes(t + from, s.data(), s.size())) continue;
        if (rule == CharStarts::kGbk) {
          starts.Forget(x > m_maxLength ? x - m_maxLength : 0);
          if (!starts.IsStart(from)) continue;
        }
        if (sink.OnMatch(i)) return Outcome::kMatch;
      }
    }
    return Outcome::kNoMatch;
  };
  size_t x = 0;
#if defined(TAVRICK_FEW_AVX2)
  for (unsigned found = 0; (x = FindCandidateBlock(t, x, size, m_low, m_high, &found)) + 32 + kPrint - 1 <= size; x += 32) {
    for (; found != 0; found &= found - 1) {
      const Outcome outcome = verify(x + static_cast<size_t>(__builtin_ctz(found)));
      if (outcome != Outcome::kNoMatch) return outcome;
    }
  }
#endif
  for (; x + kPrint <= size; ++x) {
    const Outcome outcome = verify(x);
    if (outcome != Outcome::kNoMatch) return outcome;
  }
  return Outcome::kNoMatch;
}

size_t CFewSignatures::MemoryBytes() const {
  size_t bytes = m_printAt.capacity() * sizeof(size_t);
  for (const std::string& s : m_signatures) bytes += s.capacity();
  for (const auto& group : m_byGroup) bytes += group.capacity() * sizeof(uint32_t);
  return bytes;
}
