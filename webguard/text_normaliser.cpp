#include "webguard/text_normaliser.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>

// Sixteen or sixty-four bytes at a time on x86 (SSE2, SSSE3 and AVX2 are asked at run time: a
// 32-bit build may run on a processor without them).
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define TAVRICK_PACKED_BLOCKS 1
#endif

namespace {

// What the main loop does with a byte: its value is also how many view bytes it adds, so the
// common bytes (kept or dropped) need no branch.
enum : unsigned char { kDrop = 0, kKeep = 1, kQuote = 2, kSlash = 3, kHash = 4 };

constexpr std::array<unsigned char, 256> MakeClasses() {
  std::array<unsigned char, 256> classes{};
  for (int c = 0; c < 256; ++c) classes[c] = kKeep;
  for (int c : {0x00, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20}) classes[c] = kDrop;
  classes['"'] = classes['\''] = kQuote;
  classes['/'] = kSlash;
  classes['#'] = kHash;
  return classes;
}

constexpr std::array<unsigned char, 256> MakeLower() {
  std::array<unsigned char, 256> lower{};
  for (int c = 0; c < 256; ++c) lower[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return lower;
}

constexpr std::array<unsigned char, 256> kClass = MakeClasses();
constexpr std::array<unsigned char, 256> kLower = MakeLower();

bool IsJoinOperator(char c) { return c == '.' || c == '+' || c == '&'; }

// Whether "//" after this byte opens a line comment: not in "http://", nor after a quote (a
// string such as "//host/" or '//'), an escape or a longer run of slashes and stars.
bool SlashesOpenComment(unsigned char before) {
  return before != ':' && before != '"' && before != '\'' && before != '\\' && before != '/' && before != '*';
}

// Where a line comment from `from` on ends: at its line break, or at a "?>" or "%>" that closes
// the script block (both kept); size when the text ends first.
size_t LineCommentEnd(const unsigned char* text, size_t from, size_t size) {
  for (size_t j = from; j < size; ++j) {
    const unsigned char c = text[j];
    if (c == '\n') return j;
    if ((c == '?' || c == '%') && j + 1 < size && text[j + 1] == '>') return j;
  }
  return size;
}
bool IsQuote(char c) { return c == '"' || c == '\''; }

// The first "*/" whose "*" lies at or after from; size when there is none. Remembers its last
// answer: asked about ascending positions, it reads every byte at most once.
class CCloseFinder {
 public:
  CCloseFinder(const unsigned char* text, size_t size) : m_text(text), m_size(size) {}
  size_t From(size_t from) {
    if (m_bKnown && m_at >= from) return m_at;
    m_bKnown = true;
    // By its slash: inside a comment stars are common (a star at each line of a doc block).
    for (size_t j = from + 1; j < m_size; ++j) {
      const void* slash = std::memchr(m_text + j, '/', m_size - j);
      if (!slash) break;
      j = static_cast<size_t>(static_cast<const unsigned char*>(slash) - m_text);
      if (m_text[j - 1] == '*') return m_at = j - 1;
    }
    return m_at = m_size;
  }

 private:
  const unsigned char* m_text;
  size_t m_size;
  size_t m_at = 0;
  bool m_bKnown = false;
};

#if defined(TAVRICK_PACKED_BLOCKS)

// Bytes the AVX2 loop takes at a time.
constexpr size_t kAvx2Block = 64;

// For each 8-bit mask of kept bytes: the positions of the kept bytes, first to last, in the low
// and in the high half of sixteen bytes.
struct CPackTable {
  uint8_t order[256][8] = {};
  uint8_t orderHigh[256][8] = {};
  uint8_t count[256] = {};
  CPackTable() {
    for (int mask = 0; mask < 256; ++mask) {
      for (int bit = 0; bit < 8; ++bit) {
        if (mask >> bit & 1) {
          orderHigh[mask][count[mask]] = static_cast<uint8_t>(bit + 8);
          order[mask][count[mask]++] = static_cast<uint8_t>(bit);
        }
      }
    }
  }
};
const CPackTable kPack;

// Writes the kept bytes of the block at view + out by a shuffle; returns the new end.
__attribute__((target("ssse3"), always_inline)) inline size_t ShuffleKept(__m128i folded, unsigned keep, char* view,
                                                                           size_t out) {
  const size_t low = keep & 0xFF, high = keep >> 8;
  const __m128i order = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.order[low])),
                                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.orderHigh[high])));
  const __m128i packed = _mm_shuffle_epi8(folded, order);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(view + out), packed);
  out += kPack.count[low];
  _mm_storel_epi64(reinterpret_cast<__m128i*>(view + out), _mm_srli_si128(packed, 8));
  return out + kPack.count[high];
}


#define TAVRICK_SSE2 __attribute__((target("sse2"), always_inline)) inline

TAVRICK_SSE2 __m128i Within(__m128i v, __m128i low, __m128i high) {
  return _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, low), v), _mm_cmpeq_epi8(_mm_min_epu8(v, high), v));
}

// Bits of the bytes to drop (blanks and zero), and the block with its capitals folded.
TAVRICK_SSE2 unsigned Kept(__m128i v, __m128i* folded) {
  const __m128i drop = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x20)), _mm_cmpeq_epi8(v, _mm_setzero_si128())),
                                    Within(v, _mm_set1_epi8(0x09), _mm_set1_epi8(0x0D)));
  *folded = _mm_or_si128(v, _mm_and_si128(Within(v, _mm_set1_epi8('A'), _mm_set1_epi8('Z')), _mm_set1_epi8(0x20)));
  return ~static_cast<unsigned>(_mm_movemask_epi8(drop)) & 0xFFFF;
}

// Whether the block may open a comment ("/*" or "//", the second byte possibly the next block's
// first, or a "#").
TAVRICK_SSE2 bool OpensComment(__m128i v, __m128i next) {
  const __m128i second = _mm_or_si128(_mm_cmpeq_epi8(next, _mm_set1_epi8('*')), _mm_cmpeq_epi8(next, _mm_set1_epi8('/')));
  return _mm_movemask_epi8(_mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('/')), second),
                                        _mm_cmpeq_epi8(v, _mm_set1_epi8('#')))) != 0;
}

TAVRICK_SSE2 bool HasQuote(__m128i v) {
  return _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\'')))) != 0;
}

// Whether the view written from start to out holds a quote, an operator and the same quote,
// beginning from two bytes before start (the caller keeps those above the floor).
TAVRICK_SSE2 bool JoinsIn(const char* view, size_t start, size_t out) {
  const char* from = view + start - 2;
  const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
  const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 1));
  const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 2));
  const __m128i isOp = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(o, _mm_set1_epi8('.')), _mm_cmpeq_epi8(o, _mm_set1_epi8('+'))),
                                    _mm_cmpeq_epi8(o, _mm_set1_epi8('&')));
  const __m128i sameQuote = _mm_and_si128(_mm_cmpeq_epi8(q, r), _mm_or_si128(_mm_cmpeq_epi8(q, _mm_set1_epi8('"')), _mm_cmpeq_epi8(q, _mm_set1_epi8('\''))));
  // Triples beginning at start - 2 .. out - 3.
  const unsigned span = static_cast<unsigned>(out - start);
  const unsigned valid = span >= 16 ? 0xFFFFu : (1u << span) - 1;
  return (_mm_movemask_epi8(_mm_and_si128(isOp, sameQuote)) & valid) != 0;
}

// Sixteen bytes at a time while a block opens no comment and its view joins no concatenation:
// capitals folded, blanks left out (Compact writes the kept bytes of a block that has blanks).
// Returns where it stopped (the byte by byte loop takes that block); the view may be written up
// to 16 bytes past *w.
#define TAVRICK_PACK_BLOCKS(Compact)                                                                \
  size_t out = *w;                                                                                 \
  for (; i + 17 <= size; i += 16) {                                                                \
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));                 \
    if (OpensComment(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 1)))) break;   \
    const bool quoted = HasQuote(v);                                                               \
    if (quoted && out < floor + 2) break; /* too near the floor to look back */                    \
    const size_t start = out;                                                                      \
    __m128i folded;                                                                                \
    const unsigned keep = Kept(v, &folded);                                                        \
    if (keep == 0xFFFF) {                                                                          \
      _mm_storeu_si128(reinterpret_cast<__m128i*>(view + out), folded);                            \
      out += 16;                                                                                   \
    } else {                                                                                       \
      out = Compact(folded, keep, view, out);                                                      \
    }                                                                                              \
    if (quoted && out != start && JoinsIn(view, start, out)) {                                     \
      out = start;                                                                                 \
      break;                                                                                       \
    }                                                                                              \
  }                                                                                                \
  *w = out;                                                                                        \
  return i

// Without SSSE3: the kept bytes one at a time.
TAVRICK_SSE2 size_t CopyKept(__m128i folded, unsigned keep, char* view, size_t out) {
  alignas(16) char bytes[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(bytes), folded);
  for (unsigned mask = keep; mask != 0; mask &= mask - 1) view[out++] = bytes[__builtin_ctz(mask)];
  return out;
}

__attribute__((target("ssse3"))) size_t PackBlocksSsse3(const unsigned char* text, size_t size, size_t i, char* view,
                                                         size_t* w, size_t floor) {
  TAVRICK_PACK_BLOCKS(ShuffleKept);
}

__attribute__((target("sse2"))) size_t PackBlocksSse2(const unsigned char* text, size_t size, size_t i, char* view,
                                                       size_t* w, size_t floor) {
  TAVRICK_PACK_BLOCKS(CopyKept);
}

// The kinds of thirty-two bytes that the packing asks about, a bit for each byte.
struct CBlockKinds {
  unsigned quotes, operators, slashes, stars, dropped;
};

// Each byte's kinds by two table lookups, one by each half of the byte: a bit of a kind is set
// when both halves' entries have it. The kinds: dropped below 0x10 (bit 0), the blank (bit 1),
// a capital 'A' to 'O' (bit 2) or 'P' to 'Z' (bit 3), '*' (bit 4), '/' (bit 5), a join
// operator (bit 6), a quote (bit 7). *folded: the bytes with their capitals made small.
__attribute__((target("avx2"), always_inline)) inline CBlockKinds KindsOf(__m256i v, __m256i* folded) {
  const __m256i byLow = _mm256_broadcastsi128_si256(_mm_setr_epi8(0x0B, 0x0C, static_cast<char>(0x8C), 0x0C, 0x0C, 0x0C, 0x4C,
                                                                   static_cast<char>(0x8C), 0x0C, 0x0D, 0x1D, 0x45, 0x05,
                                                                   0x05, 0x44, 0x24));
  const __m256i byHigh = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0x01, 0, static_cast<char>(0xF2), 0, 0x04, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i kinds = _mm256_and_si256(_mm256_shuffle_epi8(byLow, _mm256_and_si256(v, nibble)),
                                         _mm256_shuffle_epi8(byHigh, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble)));
  // The bytes of a kind: its bit moved to the top of each byte (a 16-bit shift carries bits
  // of the lower byte only into the three lowest of the higher).
  const __m256i by2 = _mm256_slli_epi16(kinds, 2), by3 = _mm256_slli_epi16(kinds, 3);
  CBlockKinds k;
  k.quotes = static_cast<unsigned>(_mm256_movemask_epi8(kinds));
  k.operators = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_slli_epi16(kinds, 1)));
  k.slashes = static_cast<unsigned>(_mm256_movemask_epi8(by2));
  k.stars = static_cast<unsigned>(_mm256_movemask_epi8(by3));
  k.dropped = ~static_cast<unsigned>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(kinds, _mm256_set1_epi8(0x03)), _mm256_setzero_si256())));
  // A capital's bit moved to 0x20, the difference to its small letter.
  *folded = _mm256_or_si256(v, _mm256_and_si256(_mm256_or_si256(by2, by3), _mm256_set1_epi8(0x20)));
  return k;
}

// Sixty-four bytes at a time, each sixteen packed as SSSE3 packs a block (always: a branch on
// blocks without blanks costs more than it saves), their kinds as 64-bit masks; the view is
// looked at for joins sixteen bytes at a time. A block that opens a comment is packed up to the
// opening, and the scan stops there.
__attribute__((target("avx2"))) size_t PackBlocksAvx2(const unsigned char* text, size_t size, size_t i, char* view,
                                                      size_t* w, size_t floor) {
  size_t out = *w;
  // Whether the view so far ends with an operator (kept here rather than read back from the
  // view, which the block before has only just written).
  bool operatorEnds = out > 0 && IsJoinOperator(view[out - 1]);
  auto both = [](unsigned low, unsigned high) { return uint64_t{high} << 32 | low; };
  for (; i + kAvx2Block + 1 <= size; i += kAvx2Block) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i + 32));
    __m256i foldedLow, foldedHigh;
    const CBlockKinds a = KindsOf(low, &foldedLow), b = KindsOf(high, &foldedHigh);
    const uint64_t quotes = both(a.quotes, b.quotes), operators = both(a.operators, b.operators);
    const uint64_t dropped = both(a.dropped, b.dropped);
    // A comment opens: the bytes before it are packed here, the rest byte by byte.
    // A line comment may open too ("//", or a "#").
    const uint64_t slashes = both(a.slashes, b.slashes);
    const unsigned char after = text[i + kAvx2Block];
    const uint64_t hashes =
        both(static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, _mm256_set1_epi8('#')))),
             static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, _mm256_set1_epi8('#')))));
    const uint64_t opens = (slashes & ((both(a.stars, b.stars) | slashes) >> 1 |
                                       uint64_t{after == '*' || after == '/'} << 63)) |
                           hashes;
    const uint64_t before = opens == 0 ? ~uint64_t{0} : (uint64_t{1} << __builtin_ctzll(opens)) - 1;
    const uint64_t keep = ~dropped & before;
    // A join is looked for in the view only where the block may hold one: an operator whose
    // neighbours, a blank or two apart, may be quotes (before the block they may be anything;
    // a join closed by the next block is found there), or a quote after an operator that ends
    // the view. Ordinary code is full of quotes and operators, but seldom of the three together.
    const uint64_t quoteBefore = quotes << 1 | (dropped << 1 & (quotes << 2 | dropped << 2)) | 3u;
    const uint64_t quoteAfter = quotes >> 1 | (dropped >> 1 & (quotes >> 2 | dropped >> 2));
    // Tests joined by & rather than &&: a branch on whether a block has quotes is a coin toss.
    const bool joinable = (quotes != 0) & (((operators & quoteBefore & quoteAfter) != 0) | operatorEnds);
    if (keep != 0) operatorEnds = operators >> (63 - __builtin_clzll(keep)) & 1;
    const size_t start = out;
    out = ShuffleKept(_mm256_castsi256_si128(foldedLow), keep & 0xFFFF, view, out);
    out = ShuffleKept(_mm256_extracti128_si256(foldedLow, 1), keep >> 16 & 0xFFFF, view, out);
    out = ShuffleKept(_mm256_castsi256_si128(foldedHigh), keep >> 32 & 0xFFFF, view, out);
    out = ShuffleKept(_mm256_extracti128_si256(foldedHigh, 1), static_cast<unsigned>(keep >> 48), view, out);
    if (joinable && out != start) {
      // Too near the floor to look back: the byte by byte loop takes the block.
      bool joins = start < floor + 2;
      for (size_t from = start; !joins && from < out; from += 16) joins = JoinsIn(view, from, std::min(out, from + 16));
      if (joins) {
        out = start;
        break;
      }
    }
    if (opens != 0) {
      i += static_cast<size_t>(__builtin_ctzll(opens));
      break;
    }
  }
  *w = out;
  return i;
}

#endif

// The method in use: the widest unless a test asked for a narrower one.
std::atomic<int> g_narrowest{static_cast<int>(NormaliserBlocks::kAvx2)};

NormaliserBlocks UsedBlocks() {
  static const NormaliserBlocks widest = WidestNormaliserBlocks();
  return static_cast<NormaliserBlocks>(std::min(static_cast<int>(widest), g_narrowest.load(std::memory_order_relaxed)));
}

}  // namespace

NormaliserBlocks WidestNormaliserBlocks() {
#if defined(TAVRICK_PACKED_BLOCKS)
  if (__builtin_cpu_supports("avx2")) return NormaliserBlocks::kAvx2;
  if (__builtin_cpu_supports("ssse3")) return NormaliserBlocks::kSsse3;
  if (__builtin_cpu_supports("sse2")) return NormaliserBlocks::kSse2;
#endif
  return NormaliserBlocks::kBytes;
}

void UseNormaliserBlocks(NormaliserBlocks blocks) { g_narrowest.store(static_cast<int>(blocks), std::memory_order_relaxed); }

template <class View>
size_t CTextNormaliser::Run(const unsigned char* text, size_t size, bool final, View* out) {
  const size_t base = out->size();
  // Room for the packed blocks' last store too.
  out->resize(base + m_held.size() + size + 32);
  char* view = out->data();
  size_t w = base;
  std::memcpy(view + w, m_held.data(), m_held.size());
  w += m_held.size();
  m_held.clear();
  size_t floor = base;
  CCloseFinder closes(text, size);
  size_t i = 0;
#if defined(TAVRICK_PACKED_BLOCKS)
  const NormaliserBlocks blocks = UsedBlocks();
  size_t plainUntil = 0;  // the byte by byte loop goes on at least to here
#endif
  while (i < size) {
    if (m_bInLineComment) {
      const size_t end = LineCommentEnd(text, i, size);
      if (end == size) {
        // Its last byte may begin the "?>" that ends it.
        i = !final && (text[size - 1] == '?' || text[size - 1] == '%') ? std::max(i, size - 1) : size;
        break;
      }
      m_bInLineComment = false;
      i = end;
      continue;
    }
#if defined(TAVRICK_PACKED_BLOCKS)
    if (blocks != NormaliserBlocks::kBytes && i >= plainUntil) {
      size_t width = 16;
      if (blocks == NormaliserBlocks::kAvx2) {
        i = PackBlocksAvx2(text, size, i, view, &w, floor);
        width = kAvx2Block;
      } else {
        i = blocks == NormaliserBlocks::kSsse3 ? PackBlocksSsse3(text, size, i, view, &w, floor)
                                               : PackBlocksSse2(text, size, i, view, &w, floor);
      }
      // The block it stopped at, or only the comment opening it stopped at.
      const bool opening = i + 1 < size && ((text[i] == '/' && (text[i + 1] == '*' || text[i + 1] == '/')) || text[i] == '#');
      plainUntil = opening ? i + 1 : i + width;
      if (i >= size) break;
    }
#endif
    const unsigned char c = text[i];
    const unsigned char action = kClass[c];
    if (action <= kKeep) {
      view[w] = static_cast<char>(kLower[c]);
      w += action;
      ++i;
      continue;
    }
    if (action == kQuote) {
      // The quote closes "q op q": the three go.
      if (w >= floor + 2 && IsJoinOperator(view[w - 1]) && view[w - 2] == static_cast<char>(c)) {
        w -= 2;
        floor = w;
      } else {
        view[w++] = static_cast<char>(c);
      }
      ++i;
      continue;
    }
    if (action == kHash) {
      if (HashOpensComment(text, i)) {
        m_bInLineComment = true;
      } else {
        view[w++] = '#';
      }
      ++i;
      continue;
    }
    // A slash: perhaps a comment.
    if (i + 1 == size && !final) break;
    if (i + 1 < size && text[i + 1] == '/' && SlashesOpenComment(i > 0 ? text[i - 1] : PreviousByte())) {
      m_bInLineComment = true;
      i += 2;
      continue;
    }
    if (i + 1 < size && text[i + 1] == '*') {
      const size_t reach = i + 2 + kCommentReach;  // the "*/" must end at or before this
      const size_t close = closes.From(i + 2);
      if (close < size && close + 2 <= reach) {
        i = close + 2;
        continue;
      }
      if (size < reach && !final) break;  // its end may still come
    }
    view[w++] = '/';
    ++i;
  }
  out->resize(w);
  m_floor = floor;
  // The raw bytes a later "#" or "//" looks back at.
  const size_t used = std::min(i, size);
  if (used >= kLookBack) {
    m_tail.assign(reinterpret_cast<const char*>(text) + used - kLookBack, kLookBack);
  } else {
    m_tail.append(reinterpret_cast<const char*>(text), used);
    if (m_tail.size() > kLookBack) m_tail.erase(0, m_tail.size() - kLookBack);
  }
  return i;
}

unsigned char CTextNormaliser::PreviousByte() const {
  return m_tail.empty() ? '\n' : static_cast<unsigned char>(m_tail.back());
}

bool CTextNormaliser::HashOpensComment(const unsigned char* text, size_t at) const {
  // Back over blanks (a line break ends the search), within kLookBack bytes.
  for (size_t k = 1; k <= kLookBack; ++k) {
    unsigned char c;
    if (k <= at) {
      c = text[at - k];
    } else if (k - at <= m_tail.size()) {
      c = static_cast<unsigned char>(m_tail[m_tail.size() - (k - at)]);
    } else {
      return true;  // the start of the text
    }
    if (c == 0x00 || c == 0x09 || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x20) continue;
    return c == '\n' || c == ';' || c == '{' || c == '}';
  }
  return false;
}

template <class View>
void CTextNormaliser::HoldJoinableEnd(View* out) {
  const size_t w = out->size();
  size_t hold = 0;
  if (w >= m_floor + 1 && IsQuote((*out)[w - 1])) {
    hold = 1;
  } else if (w >= m_floor + 2 && IsJoinOperator((*out)[w - 1]) && IsQuote((*out)[w - 2])) {
    hold = 2;
  }
  m_held.assign(out->data() + w - hold, hold);
  out->resize(w - hold);
}

template <class View>
void CTextNormaliser::Feed(const char* text, size_t size, View* out) {
  if (size == 0) return;
  if (m_pending.empty()) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const size_t used = Run(bytes, size, false, out);
    m_pending.assign(text + used, size - used);
  } else {
    m_pending.append(text, size);
    const size_t used = Run(reinterpret_cast<const unsigned char*>(m_pending.data()), m_pending.size(), false, out);
    m_pending.erase(0, used);
  }
  HoldJoinableEnd(out);
}

template <class View>
void CTextNormaliser::Finish(View* out) {
  Run(reinterpret_cast<const unsigned char*>(m_pending.data()), m_pending.size(), true, out);
  Restart();
}

template void CTextNormaliser::Feed(const char*, size_t, std::string*);
template void CTextNormaliser::Feed(const char*, size_t, CViewBuffer*);
template void CTextNormaliser::Finish(std::string*);
template void CTextNormaliser::Finish(CViewBuffer*);

void CTextNormaliser::Restart() {
  m_bInLineComment = false;
  m_tail.clear();
  m_pending.clear();
  m_held.clear();
  m_floor = 0;
}

std::string NormaliseText(const char* text, size_t size) {
  CTextNormaliser normaliser;
  std::string view;
  normaliser.Feed(text, size, &view);
  normaliser.Finish(&view);
  return view;
}

std::string NormalisePart(const std::string& part) {
  CTextNormaliser normaliser;
  normaliser.StartAfterColon();
  std::string view;
  normaliser.Feed(part.data(), part.size(), &view);
  normaliser.Finish(&view);
  return view;
}
