#include "webguard/signature_short.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "webguard/gbk_text.h"

namespace {

bool Holds(const std::string& s, unsigned char c) { return s.find(static_cast<char>(c)) != std::string::npos; }

}  // namespace

bool CShortSignatures::Build(const std::vector<std::string>& signatures, const std::vector<uint32_t>& ids) {
  // Each signature's rarest byte; when they are too many, the bytes that key the most
  // signatures not yet keyed (rarer first among equals).
  std::vector<unsigned char> keys;
  for (const std::string& s : signatures) {
    unsigned char best = static_cast<unsigned char>(s[0]);
    for (char c : s) {
      if (ByteRarity(static_cast<unsigned char>(c)) > ByteRarity(best)) best = static_cast<unsigned char>(c);
    }
    if (std::find(keys.begin(), keys.end(), best) == keys.end()) keys.push_back(best);
  }
  if (keys.size() > kMaxKeys) {
    keys.clear();
    std::vector<bool> keyed(signatures.size(), false);
    size_t left = signatures.size();
    while (left > 0 && keys.size() < kMaxKeys) {
      int bestScore = -1;
      unsigned char best = 0;
      for (int c = 0; c < 256; ++c) {
        int count = 0;
        for (size_t i = 0; i < signatures.size(); ++i) count += !keyed[i] && Holds(signatures[i], static_cast<unsigned char>(c));
        const int score = count * 64 + ByteRarity(static_cast<unsigned char>(c));
        if (count > 0 && score > bestScore) {
          bestScore = score;
          best = static_cast<unsigned char>(c);
        }
      }
      keys.push_back(best);
      for (size_t i = 0; i < signatures.size(); ++i) {
        if (!keyed[i] && Holds(signatures[i], best)) {
          keyed[i] = true;
          --left;
        }
      }
    }
    if (left > 0) return false;
  }
  m_keyCount = keys.size();
  for (size_t k = 0; k < kMaxKeys; ++k) m_keys[k] = keys[k < keys.size() ? k : 0];
  m_entries.clear();
  m_pool.clear();
  m_maxLength = 0;
  for (size_t i = 0; i < signatures.size(); ++i) {
    const std::string& s = signatures[i];
    // The rarest key the signature holds.
    size_t offset = std::string::npos;
    for (unsigned char key : keys) {
      const size_t at = s.find(static_cast<char>(key));
      if (at != std::string::npos &&
          (offset == std::string::npos || ByteRarity(key) > ByteRarity(static_cast<unsigned char>(s[offset])))) {
        offset = at;
      }
    }
    CEntry entry;
    entry.id = ids[i];
    entry.poolAt = static_cast<uint32_t>(m_pool.size());
    entry.length = static_cast<uint8_t>(s.size());
    entry.keyOffset = static_cast<uint8_t>(offset);
    m_entries.push_back(entry);
    m_pool += s;
    m_maxLength = std::max(m_maxLength, s.size());
  }
  auto key = [&](const CEntry& e) { return static_cast<unsigned char>(m_pool[e.poolAt + e.keyOffset]); };
  std::stable_sort(m_entries.begin(), m_entries.end(), [&](const CEntry& a, const CEntry& b) { return key(a) < key(b); });
  m_byKey.assign(257, 0);
  for (const CEntry& e : m_entries) ++m_byKey[key(e) + 1];
  for (size_t c = 0; c < 256; ++c) m_byKey[c + 1] += m_byKey[c];
  return true;
}

CSignatureFilter::Outcome CShortSignatures::Scan(const char* text, size_t size, size_t workAllowance,
                                                 size_t* resumeAt, CharStarts rule, IMatchSink& sink) const {
  using Outcome = CSignatureFilter::Outcome;
  if (Empty() || size == 0) return Outcome::kNoMatch;
  const auto* t = reinterpret_cast<const unsigned char*>(text);
  CGbkCharStarts starts(t, size);
  size_t work = 0;
  // Compares the signatures keyed by the byte at x.
  auto verify = [&](size_t x) {
    const unsigned char c = t[x];
    for (uint32_t e = m_byKey[c]; e < m_byKey[c + 1]; ++e) {
      const CEntry& entry = m_entries[e];
      if (++work > workAllowance + x) {
        *resumeAt = starts.StartAtOrBefore(x > m_maxLength ? x - m_maxLength : 0);
        return Outcome::kTooMuchWork;
      }
      if (x < entry.keyOffset) continue;
      const size_t from = x - entry.keyOffset;
      if (from + entry.length > size || std::memcmp(t + from, m_pool.data() + entry.poolAt, entry.length) != 0) {
        continue;
      }
      if (rule == CharStarts::kGbk) {
        starts.Forget(x >= kShortBelow ? x - kShortBelow : 0);
        if (!starts.IsStart(from)) continue;
      }
      if (sink.OnMatch(entry.id)) return Outcome::kMatch;
    }
    return Outcome::kNoMatch;
  };
  size_t x = 0;
#if defined(__SSE2__)
  __m128i keys[kMaxKeys];
  for (size_t k = 0; k < kMaxKeys; ++k) keys[k] = _mm_set1_epi8(static_cast<char>(m_keys[k]));
  for (; x + 16 <= size; x += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + x));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(block, keys[0]), _mm_cmpeq_epi8(block, keys[1]));
    hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(block, keys[2]), _mm_cmpeq_epi8(block, keys[3])));
    hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(block, keys[4]), _mm_cmpeq_epi8(block, keys[5])));
    hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(block, keys[6]), _mm_cmpeq_epi8(block, keys[7])));
    for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit)); mask != 0; mask &= mask - 1) {
      const Outcome outcome = verify(x + static_cast<size_t>(__builtin_ctz(mask)));
      if (outcome != Outcome::kNoMatch) return outcome;
    }
  }
#endif
  for (; x < size; ++x) {
    if (m_byKey[t[x]] == m_byKey[t[x] + 1]) continue;
    const Outcome outcome = verify(x);
    if (outcome != Outcome::kNoMatch) return outcome;
  }
  return Outcome::kNoMatch;
}

size_t CShortSignatures::MemoryBytes() const {
  return m_byKey.capacity() * sizeof(uint32_t) + m_entries.capacity() * sizeof(CEntry) + m_pool.capacity();
}

void CShortSignatures::CopyTo(std::vector<std::string>* signatures) const {
  for (const CEntry& e : m_entries) (*signatures)[e.id] = m_pool.substr(e.poolAt, e.length);
}
