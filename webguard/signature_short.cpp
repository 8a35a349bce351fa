#include "webguard/signature_short.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// Many key pairs are looked for by nibble tables with SSSE3, asked for at run time (a 32-bit
// build may run on a processor without it).
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <tmmintrin.h>
#define TAVRICK_NIBBLE_PAIRS 1
#endif

#include "webguard/gbk_text.h"

namespace {

std::atomic<bool> g_bPairTables{true};

#if defined(TAVRICK_NIBBLE_PAIRS)
bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

// The first block of sixteen positions from x on (while x + 17 <= size) where a key pair
// begins; *hits: their bits. Each group of eight keys gives each key a bit in four tables, by
// the low and high nibble of its first and of its second byte, so a bit survives all four
// lookups exactly where the key pair lies. Returns where it stopped (no block found: the first
// x with x + 17 > size).
__attribute__((target("ssse3"))) size_t FindPairBlock(const unsigned char* t, size_t x, size_t size,
                                                       const uint8_t (*tables)[4][16], size_t groups,
                                                       unsigned* hits) {
  const __m128i low = _mm_set1_epi8(0x0F);
  __m128i table[2][4];
  for (size_t g = 0; g < 2; ++g) {
    for (size_t n = 0; n < 4; ++n) table[g][n] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tables[g < groups ? g : 0][n]));
  }
  for (; x + 17 <= size; x += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + x + 1));
    const __m128i aLow = _mm_and_si128(a, low), aHigh = _mm_and_si128(_mm_srli_epi16(a, 4), low);
    const __m128i bLow = _mm_and_si128(b, low), bHigh = _mm_and_si128(_mm_srli_epi16(b, 4), low);
    __m128i bits = _mm_and_si128(_mm_and_si128(_mm_shuffle_epi8(table[0][0], aLow), _mm_shuffle_epi8(table[0][1], aHigh)),
                                 _mm_and_si128(_mm_shuffle_epi8(table[0][2], bLow), _mm_shuffle_epi8(table[0][3], bHigh)));
    if (groups > 1) {
      bits = _mm_or_si128(bits, _mm_and_si128(_mm_and_si128(_mm_shuffle_epi8(table[1][0], aLow), _mm_shuffle_epi8(table[1][1], aHigh)),
                                              _mm_and_si128(_mm_shuffle_epi8(table[1][2], bLow), _mm_shuffle_epi8(table[1][3], bHigh))));
    }
    const unsigned found = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bits, _mm_setzero_si128()))) & 0xFFFF;
    if (found != 0) {
      *hits = found;
      return x;
    }
  }
  return x;
}
#endif

using Pair = uint16_t;

Pair PairAt(const unsigned char* p) { return static_cast<Pair>(p[0] << 8 | p[1]); }
Pair PairAt(const std::string& s, size_t at) { return PairAt(reinterpret_cast<const unsigned char*>(s.data()) + at); }
int PairRarity(Pair pair) { return ByteRarity(static_cast<unsigned char>(pair >> 8)) + ByteRarity(pair & 0xFF); }

// Where the signature holds the pair; npos when it does not.
size_t FindPair(const std::string& s, Pair pair) {
  for (size_t at = 0; at + 1 < s.size(); ++at) {
    if (PairAt(s, at) == pair) return at;
  }
  return std::string::npos;
}

}  // namespace

void UseShortPairTables(bool allowed) { g_bPairTables.store(allowed, std::memory_order_relaxed); }

void CShortSignatures::Build(const std::vector<std::string>& signatures, const std::vector<uint32_t>& ids,
                             std::vector<size_t>* left) {
  // Each signature's rarest pair; when they are too many, the pairs that key the most
  // signatures not yet keyed (rarer first among equals).
  std::vector<Pair> keys;
  left->clear();
  for (const std::string& s : signatures) {
    Pair best = PairAt(s, 0);
    for (size_t at = 1; at + 1 < s.size(); ++at) {
      if (PairRarity(PairAt(s, at)) > PairRarity(best)) best = PairAt(s, at);
    }
    if (std::find(keys.begin(), keys.end(), best) == keys.end()) keys.push_back(best);
  }
  if (keys.size() > kMaxKeys) {
    keys.clear();
    std::vector<bool> keyed(signatures.size(), false);
    size_t unkeyed = signatures.size();
    while (unkeyed > 0 && keys.size() < kMaxKeys) {
      // Signatures too short for the filter are keyed first: only a pair can take them.
      bool tooShortLeft = false;
      for (size_t i = 0; i < signatures.size(); ++i) tooShortLeft |= !keyed[i] && signatures[i].size() < CSignatureFilter::kGram;
      // How many of the signatures still to key hold each pair.
      std::vector<uint32_t> count(size_t{1} << 16, 0);
      for (size_t i = 0; i < signatures.size(); ++i) {
        if (keyed[i] || (tooShortLeft && signatures[i].size() >= CSignatureFilter::kGram)) continue;
        for (size_t at = 0; at + 1 < signatures[i].size(); ++at) {
          if (FindPair(signatures[i], PairAt(signatures[i], at)) == at) ++count[PairAt(signatures[i], at)];
        }
      }
      uint64_t bestScore = 0;
      Pair best = 0;
      for (size_t pair = 0; pair < count.size(); ++pair) {
        const uint64_t score = uint64_t{count[pair]} * 128 + static_cast<uint64_t>(PairRarity(static_cast<Pair>(pair)));
        if (count[pair] > 0 && score > bestScore) {
          bestScore = score;
          best = static_cast<Pair>(pair);
        }
      }
      keys.push_back(best);
      for (size_t i = 0; i < signatures.size(); ++i) {
        if (!keyed[i] && FindPair(signatures[i], best) != std::string::npos) {
          keyed[i] = true;
          --unkeyed;
        }
      }
    }
    for (size_t i = 0; i < signatures.size(); ++i) {
      if (!keyed[i]) left->push_back(i);
    }
  }
  m_keyCount = keys.size();
  for (size_t k = 0; k < kMaxKeys; ++k) {
    const Pair key = keys[k < keys.size() ? k : 0];
    m_first[k] = static_cast<unsigned char>(key >> 8);
    m_second[k] = static_cast<unsigned char>(key & 0xFF);
  }
  m_entries.clear();
  m_pool.clear();
  m_maxLength = 0;
  std::vector<size_t> keyOf;
  for (size_t i = 0, next = 0; i < signatures.size(); ++i) {
    if (next < left->size() && (*left)[next] == i) {
      ++next;
      continue;
    }
    const std::string& s = signatures[i];
    // The rarest key the signature holds.
    size_t key = kMaxKeys, offset = 0;
    for (size_t k = 0; k < keys.size(); ++k) {
      const size_t at = FindPair(s, keys[k]);
      if (at != std::string::npos && (key == kMaxKeys || PairRarity(keys[k]) > PairRarity(keys[key]))) {
        key = k;
        offset = at;
      }
    }
    CEntry entry;
    entry.id = ids[i];
    entry.poolAt = static_cast<uint32_t>(m_pool.size());
    entry.length = static_cast<uint8_t>(s.size());
    entry.keyOffset = static_cast<uint8_t>(offset);
    static_assert(kShortBelow <= sizeof entry.mask, "a short signature fits one 8-byte load");
    unsigned char ones[sizeof entry.mask] = {};
    std::memset(ones, 0xFF, s.size());
    std::memcpy(&entry.mask, ones, sizeof ones);
    std::memcpy(&entry.bytes, s.data(), s.size());
    m_entries.push_back(entry);
    keyOf.push_back(key);
    m_pool += s;
    m_maxLength = std::max(m_maxLength, s.size());
  }
  std::vector<size_t> order(m_entries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keyOf[a] < keyOf[b]; });
  std::vector<CEntry> sorted;
  m_byKey.assign(kMaxKeys + 1, 0);
  for (size_t i : order) {
    sorted.push_back(m_entries[i]);
    ++m_byKey[keyOf[i] + 1];
  }
  for (size_t k = 0; k < kMaxKeys; ++k) m_byKey[k + 1] += m_byKey[k];
  std::memset(m_nibbles, 0, sizeof m_nibbles);
  for (size_t k = 0; k < keys.size(); ++k) {
    const auto bit = static_cast<uint8_t>(1u << (k % 8));
    uint8_t(&group)[4][16] = m_nibbles[k / 8];
    group[0][keys[k] >> 8 & 0x0F] |= bit;
    group[1][keys[k] >> 12] |= bit;
    group[2][keys[k] & 0x0F] |= bit;
    group[3][keys[k] >> 4 & 0x0F] |= bit;
  }
  m_keyOfPair.assign(size_t{1} << 16, static_cast<uint8_t>(kMaxKeys));
  for (size_t k = keys.size(); k-- > 0;) m_keyOfPair[keys[k]] = static_cast<uint8_t>(k);
  m_entries = std::move(sorted);
}

CSignatureFilter::Outcome CShortSignatures::Scan(const char* text, size_t size, size_t workAllowance,
                                                 size_t* resumeAt, CharStarts rule, IMatchSink& sink) const {
  using Outcome = CSignatureFilter::Outcome;
  if (Empty() || size < 2) return Outcome::kNoMatch;
  const auto* t = reinterpret_cast<const unsigned char*>(text);
  CGbkCharStarts starts(t, size);
  size_t work = 0;
  // Compares the signatures keyed by the pair at x.
  auto verify = [&](size_t x) {
    const size_t k = m_keyOfPair[PairAt(t + x)];
    if (k < kMaxKeys) {
      for (uint32_t e = m_byKey[k]; e < m_byKey[k + 1]; ++e) {
        const CEntry& entry = m_entries[e];
        if (++work > workAllowance + x) {
          *resumeAt = starts.StartAtOrBefore(x > m_maxLength ? x - m_maxLength : 0);
          return Outcome::kTooMuchWork;
        }
        if (x < entry.keyOffset) continue;
        const size_t from = x - entry.keyOffset;
        if (from + entry.length > size) continue;
        if (from + 8 <= size) {
          // Eight bytes at once, those beyond the signature masked out.
          uint64_t here;
          std::memcpy(&here, t + from, sizeof here);
          if ((here & entry.mask) != entry.bytes) continue;
        } else if (std::memcmp(t + from, m_pool.data() + entry.poolAt, entry.length) != 0) {
          continue;
        }
        if (rule == CharStarts::kGbk) {
          starts.Forget(x >= kShortBelow ? x - kShortBelow : 0);
          if (!starts.IsStart(from)) continue;
        }
        if (sink.OnMatch(entry.id)) return Outcome::kMatch;
      }
    }
    return Outcome::kNoMatch;
  };
  size_t x = 0;
#if defined(TAVRICK_NIBBLE_PAIRS)
  // More than four keys: the nibble tables cost less than a comparison per key.
  if (m_keyCount > 4 && HasSsse3() && g_bPairTables.load(std::memory_order_relaxed)) {
    const size_t groups = (m_keyCount + 7) / 8;
    for (unsigned found = 0; (x = FindPairBlock(t, x, size, m_nibbles, groups, &found)) + 17 <= size; x += 16) {
      for (unsigned mask = found; mask != 0; mask &= mask - 1) {
        const Outcome outcome = verify(x + static_cast<size_t>(__builtin_ctz(mask)));
        if (outcome != Outcome::kNoMatch) return outcome;
      }
    }
  }
#endif
#if defined(__SSE2__)
  // As many comparisons as there are keys, rounded up to 2, 4, 8 or 16 (the rest repeat key 0).
  const size_t keys = m_keyCount <= 2 ? 2 : m_keyCount <= 4 ? 4 : m_keyCount <= 8 ? 8 : 16;
  __m128i first[kMaxKeys], second[kMaxKeys];
  for (size_t k = 0; k < kMaxKeys; ++k) {
    first[k] = _mm_set1_epi8(static_cast<char>(m_first[k]));
    second[k] = _mm_set1_epi8(static_cast<char>(m_second[k]));
  }
  auto hits = [&](const __m128i& a, const __m128i& b, size_t count) {
    __m128i hit = _mm_and_si128(_mm_cmpeq_epi8(a, first[0]), _mm_cmpeq_epi8(b, second[0]));
    for (size_t k = 1; k < count; ++k) {
      hit = _mm_or_si128(hit, _mm_and_si128(_mm_cmpeq_epi8(a, first[k]), _mm_cmpeq_epi8(b, second[k])));
    }
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
  };
  // One loop per number of comparisons, so each keeps its keys in registers.
  auto blocks = [&](auto count) {
    for (; x + 17 <= size; x += 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + x));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + x + 1));
      for (unsigned mask = hits(a, b, decltype(count)::value); mask != 0; mask &= mask - 1) {
        const Outcome outcome = verify(x + static_cast<size_t>(__builtin_ctz(mask)));
        if (outcome != Outcome::kNoMatch) return outcome;
      }
    }
    return Outcome::kNoMatch;
  };
  const Outcome outcome = keys == 2   ? blocks(std::integral_constant<size_t, 2>())
                          : keys == 4 ? blocks(std::integral_constant<size_t, 4>())
                          : keys == 8 ? blocks(std::integral_constant<size_t, 8>())
                                      : blocks(std::integral_constant<size_t, 16>());
  if (outcome != Outcome::kNoMatch) return outcome;
#endif
  for (; x + 1 < size; ++x) {
    const Outcome outcome = verify(x);
    if (outcome != Outcome::kNoMatch) return outcome;
  }
  return Outcome::kNoMatch;
}

size_t CShortSignatures::MemoryBytes() const {
  return m_byKey.capacity() * sizeof(uint32_t) + m_entries.capacity() * sizeof(CEntry) + m_pool.capacity() +
         m_keyOfPair.capacity();
}

void CShortSignatures::CopyTo(std::vector<std::string>* signatures) const {
  for (const CEntry& e : m_entries) (*signatures)[e.id] = m_pool.substr(e.poolAt, e.length);
}
