#include "webguard/signature_short.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "webguard/gbk_text.h"

namespace {

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
      std::vector<Pair> candidates;
      for (size_t i = 0; i < signatures.size(); ++i) {
        if (keyed[i] || (tooShortLeft && signatures[i].size() >= CSignatureFilter::kGram)) continue;
        for (size_t at = 0; at + 1 < signatures[i].size(); ++at) candidates.push_back(PairAt(signatures[i], at));
      }
      int bestScore = -1;
      Pair best = 0;
      for (Pair pair : candidates) {
        int count = 0;
        for (size_t i = 0; i < signatures.size(); ++i) count += !keyed[i] && FindPair(signatures[i], pair) != std::string::npos;
        const int score = count * 128 + PairRarity(pair);
        if (score > bestScore) {
          bestScore = score;
          best = pair;
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
        const char* wanted = m_pool.data() + entry.poolAt;
        size_t same = 0;
        while (same < entry.length && t[from + same] == static_cast<unsigned char>(wanted[same])) ++same;
        if (same < entry.length) continue;
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
  for (; x + 17 <= size; x += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + x + 1));
    const unsigned found = keys == 2   ? hits(a, b, 2)
                           : keys == 4 ? hits(a, b, 4)
                           : keys == 8 ? hits(a, b, 8)
                                       : hits(a, b, 16);
    for (unsigned mask = found; mask != 0; mask &= mask - 1) {
      const Outcome outcome = verify(x + static_cast<size_t>(__builtin_ctz(mask)));
      if (outcome != Outcome::kNoMatch) return outcome;
    }
  }
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
