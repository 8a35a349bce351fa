#include "webguard/signature_filter.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string_view>

#include "webguard/gbk_text.h"

namespace {

// How rare each byte is in ordinary web scripts (about 2 x -log2 of its share, measured on the
// PHP and JavaScript that Debian ships; double-byte text counts as common on Chinese sites).
constexpr uint8_t kRarity[256] = {
    40, 40, 40, 40, 40, 40, 40, 40, 40, 11, 11, 40, 40, 29, 40, 40,  //
    40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40,  //
    5,  19, 15, 22, 14, 22, 17, 13, 12, 12, 14, 20, 12, 15, 12, 14,  //  !"#$%&'()*+,-./
    14, 14, 16, 17, 19, 19, 19, 20, 20, 20, 15, 14, 19, 13, 16, 19,  // 0-9 :;<=>?
    18, 17, 19, 17, 18, 16, 19, 22, 20, 17, 25, 24, 18, 17, 18, 17,  // @A-O
    17, 24, 18, 17, 17, 20, 21, 19, 23, 23, 26, 17, 19, 17, 27, 13,  // P-Z [\]^_
    21, 9,  13, 11, 12, 8,  12, 13, 13, 10, 18, 16, 11, 12, 9,  10,  // `a-o
    12, 18, 9,  10, 8,  12, 14, 15, 16, 14, 18, 15, 19, 15, 29, 40,  // p-z {|}~
    40, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18,  //
    18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18,  //
    18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18,  //
    18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18,  //
    18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18,  //
    18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18,  //
    18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18,  //
    18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 40,  //
};
// Words that ordinary scripts are full of, in small letters as the normalised view has them:
// a gram inside one is common whatever its letters' rarity says (a signature that holds
// "create_function(" is better sampled elsewhere than in "function").
const char* const kCommonWords[] = {
    "function", "return", "$this->", "this.", "name", "value", "object", "data", "table", "param",
    "null", "text", "static", "extends", "form", "file", "false", "true", "array(", "item", "port",
    "query", "comment", "content", "string", "class", "public", "private", "protected", "echo",
    "isset(", "length", "document", "window", "type", "result", "option", "element", "include",
    "require", "count", "self", "default", "index", "error", "message", "list", "user", "post",
    "<?php", "else", "foreach", "width", "height", "style", "title", "input", "label",
    "action", "event", "link", "image", "ion(", "tion", "ment", "ing", "ter", "ent",
};
constexpr int kCommonCost = 40;

std::vector<uint32_t> CommonGrams() {
  std::vector<uint32_t> grams;
  for (const char* word : kCommonWords) {
    const size_t length = std::strlen(word);
    for (size_t j = 0; j + 4 <= length; ++j) {
      uint32_t gram;
      std::memcpy(&gram, word + j, sizeof gram);
      grams.push_back(gram);
    }
  }
  std::sort(grams.begin(), grams.end());
  grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
  return grams;
}

bool IsCommonGram(uint32_t gram) {
  static const std::vector<uint32_t> common = CommonGrams();
  return std::binary_search(common.begin(), common.end(), gram);
}

// A gram found in twice as many signatures costs this much rarity: it is likely ordinary code,
// and every signature given it is compared whenever it turns up. Weighed against kCommonCost on
// ordinary PHP (Debian's and Chinese CMSs'): a gram many signatures share, such as "eval", still
// turns up far less often than a common word, so "returneval(" is sampled in "eval(" rather
// than in "return".
constexpr int kSharingCost = 3;

constexpr uint64_t kBitmapHash = 0x9E3779B97F4A7C15ull;
// The bitmaps read at every sample hash by a 32-bit multiply, which reads the gram from memory
// in the same instruction: sampling is bound by instructions. A gram's bit is the top bits of
// the product.
constexpr uint32_t kSampledHash = 0xC2B2AE35u, kCoarseHash = 0x27D4EB2Fu;
// The bit of a hashed gram in a bitmap of 2^bits bits (bit b % 8 of byte b / 8, or bit b % 64 of
// 64-bit word b / 64, little-endian).
constexpr uint32_t SampledBit(uint32_t hash, unsigned bits) { return hash >> (32 - bits); }
// Bits of the first bitmap of the largest table (2^21 bits: 256 KB).
constexpr unsigned kCoarseBits = 21;
constexpr uint32_t kCellHash = 0x85EBCA6Bu;
// Eight-byte windows that begin 0 to 4 bytes before a gram, told apart by their hash (one
// multiplier for each distance back; kGramAlone, the next bit, is for a gram alone).
constexpr size_t kWindow = 8;
constexpr size_t kGramAlone = 5;
constexpr uint64_t kWindowHash[kGramAlone] = {0xD6E8FEB86659FD93ull, 0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full,
                                              0xFF51AFD7ED558CCDull, 0xC4CEB9FE1A85EC53ull};
constexpr uint32_t kWindowGramHash = 0x9E3779B1u;
// Window words per distinct gram, about, and at most (1 MB: a large set shares them).
constexpr size_t kWindowWordsPerGram = 2;
constexpr unsigned kMaxWindowWordBits = 17;
// Offsets inside a signature are kept in 16 bits: grams and check bytes come from its start.
constexpr size_t kOffsetLimit = 65535 - 8;
// A gram of more cells than this has them looked up by the bytes beside it (see Build).
constexpr size_t kIndexedFrom = 8;
// How the cells of such a gram are checked: by the four bytes after the gram, before it, or
// (a short signature with the gram near its start) by its own check bytes.
constexpr uint8_t kSideAfter = 0, kSideBefore = 1, kSideOwn = 2;
// Signatures whose grams are counted, at most.
constexpr size_t kCountedSignatures = 16384;
// Distinct grams up to which each bitmap size keeps its share of set cells near 1 %. Beyond, the
// 2 MB bitmap behind its 256 KB first one: a single 512 KB bitmap fills the processor's nearer
// cache and every sample waits for the farther one.
constexpr size_t kBytes16Grams = 1024, kBits20Grams = 16384;

uint32_t Load4(const unsigned char* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

uint64_t Load8(const unsigned char* p) {
  uint64_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// hits * 2 plus bit `bit % 64` of word. On x86-64 a bit test and an add with carry: half the
// instructions of shifting the bit out and into place, and sampling is bound by instructions.
__attribute__((always_inline)) inline uint64_t ShiftInBit(uint64_t hits, uint64_t word, uint64_t bit) {
#if defined(__GNUC__) && defined(__x86_64__)
  asm("btq %[bit], %[word]\n\tadcq %[hits], %[hits]" : [hits] "+r"(hits) : [word] "r"(word), [bit] "r"(bit) : "cc");
  return hits;
#else
  return hits + hits + ((word >> (bit & 63)) & 1);
#endif
}

std::atomic<bool> g_bRotateAllowed{true};

// Whether samples are hashed with rorx (x86-64 processors with BMI2, asked at run time).
bool RotatesSamples() {
#if defined(__GNUC__) && defined(__x86_64__)
  static const bool has = __builtin_cpu_supports("bmi2");
  return has && g_bRotateAllowed.load(std::memory_order_relaxed);
#else
  return false;
#endif
}

unsigned Log2Ceil(size_t n) {
  unsigned bits = 0;
  while ((size_t{1} << bits) < n) ++bits;
  return bits;
}

int BitLength(uint32_t n) {
  int bits = 0;
  for (; n; n >>= 1) ++bits;
  return bits;
}

// Counts of grams (grams never hold a zero byte, so 0 marks a free cell).
class CGramCounts {
 public:
  explicit CGramCounts(size_t expected)
      : m_bits(Log2Ceil(expected * 2 + 16)), m_cells(size_t{1} << m_bits) {}
  uint32_t Count(uint32_t gram) const { return m_cells[Locate(gram)].count; }
  void Add(uint32_t gram) {
    Cell& cell = m_cells[Locate(gram)];
    cell.gram = gram;
    ++cell.count;
  }

 private:
  struct Cell {
    uint32_t gram = 0, count = 0;
  };
  size_t Locate(uint32_t gram) const {
    const size_t mask = m_cells.size() - 1;
    size_t at = static_cast<uint32_t>(gram * kCellHash) >> (32 - m_bits);
    while (m_cells[at].gram != 0 && m_cells[at].gram != gram) at = (at + 1) & mask;
    return at;
  }
  unsigned m_bits;
  std::vector<Cell> m_cells;
};

// The first offset of the stride grams a signature contributes: rare grams, little shared.
size_t ChooseBlock(const std::string& s, size_t stride, const CGramCounts& counts, std::vector<int>* scores) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t grams = std::min(s.size(), kOffsetLimit) - CSignatureFilter::kGram + 1;
  std::vector<int>& score = *scores;
  score.resize(grams);
  for (size_t j = 0; j < grams; ++j) {
    const uint32_t gram = Load4(p + j);
    score[j] = Rarity(p + j, CSignatureFilter::kGram) - kSharingCost * BitLength(counts.Count(gram)) -
               (IsCommonGram(gram) ? kCommonCost : 0);
  }
  size_t best = 0;
  int bestScore = 0;
  for (size_t j = 0; j + stride <= grams; ++j) {
    const int worst = *std::min_element(score.begin() + j, score.begin() + j + stride);
    if (j == 0 || worst > bestScore) {
      bestScore = worst;
      best = j;
    }
  }
  return best;
}

// Where a gram's check bytes are read: the rarest other four bytes of the signature, apart
// from the gram where the signature allows. Bytes next to a rare gram are often common (a
// signature padded with blanks would otherwise be compared at every run of blanks in a text).
size_t CheckOffset(const std::vector<int>& scores, size_t gram) {
  if (scores.size() == 1) return 0;  // a signature of one gram checks the gram again
  size_t best = gram == 0 ? 1 : 0;
  bool bestApart = false;
  for (size_t j = 0; j < scores.size(); ++j) {
    if (j == gram) continue;
    const bool apart = j + CSignatureFilter::kGram <= gram || j >= gram + CSignatureFilter::kGram;
    if ((apart && !bestApart) || (apart == bestApart && scores[j] > scores[best])) {
      best = j;
      bestApart = apart;
    }
  }
  return best;
}

// How far back from a gram at offset (of a signature of length bytes, at least a window) its
// window begins: the rarest eight bytes that hold the gram, begin at most kGram bytes before
// it and lie inside the signature. A window of ordinary code would let the gram through
// wherever that code is.
size_t RarestWindowBack(const unsigned char* gram, size_t offset, size_t length) {
  const size_t least = offset + kWindow > length ? offset + kWindow - length : 0;
  const size_t most = std::min(CSignatureFilter::kGram, offset);
  size_t best = least;
  int bestScore = 0;
  for (size_t back = least; back <= most; ++back) {
    const unsigned char* window = gram - back;
    int score = Rarity(window, kWindow);
    for (size_t k = 0; k + CSignatureFilter::kGram <= kWindow; ++k) score -= IsCommonGram(Load4(window + k)) ? kCommonCost : 0;
    if (back == least || score > bestScore) {
      bestScore = score;
      best = back;
    }
  }
  return best;
}

}  // namespace

void UseRotatedSamples(bool allowed) { g_bRotateAllowed.store(allowed, std::memory_order_relaxed); }

int ByteRarity(unsigned char c) { return kRarity[c]; }

int Rarity(const void* bytes, size_t size) {
  int sum = 0;
  for (size_t k = 0; k < size; ++k) sum += kRarity[static_cast<const unsigned char*>(bytes)[k]];
  return sum;
}

bool SameBytes(const void* a, const void* b, size_t size) {
  const auto* x = static_cast<const unsigned char*>(a);
  const auto* y = static_cast<const unsigned char*>(b);
  if (size < 4) return std::memcmp(x, y, size) == 0;
  if (size < 8) return ((Load4(x) ^ Load4(y)) | (Load4(x + size - 4) ^ Load4(y + size - 4))) == 0;
  for (size_t i = 0; i + 8 < size; i += 8) {
    if (Load8(x + i) != Load8(y + i)) return false;
  }
  return Load8(x + size - 8) == Load8(y + size - 8);
}

int RarityInScripts(const void* bytes, size_t size) {
  const std::string_view run(static_cast<const char*>(bytes), size);
  const bool common = std::any_of(std::begin(kCommonWords), std::end(kCommonWords),
                                  [&](const char* word) { return std::string_view(word).find(run) != std::string_view::npos; });
  return Rarity(bytes, size) - (common ? kCommonCost : 0);
}

void CSignatureFilter::Build(const std::vector<std::string>& signatures) {
  size_t shortest = SIZE_MAX;
  m_maxLength = 0;
  for (const std::string& s : signatures) {
    shortest = std::min(shortest, s.size());
    m_maxLength = std::max(m_maxLength, s.size());
  }
  m_stride = signatures.empty() ? 1 : std::min(kMaxStride, shortest - kGram + 1);
  m_pool.clear();
  m_start.assign(1, 0);
  struct CGramCell {
    uint32_t gram;
    CCell cell;
    uint8_t side = kSideOwn;  // how a gram of many cells finds this one (see below)
    uint32_t beside = 0;
  };
  std::vector<CGramCell> cells;
  cells.reserve(signatures.size() * m_stride);
  // How many signatures each gram occurs in: a gram that many signatures share is ordinary
  // code (a call or a superglobal they all begin with), which texts are full of. Counted on an
  // even sample of a large set, which shows the shared grams as well.
  const size_t step = signatures.size() / kCountedSignatures + 1;
  size_t grams = 0;
  for (size_t i = 0; i < signatures.size(); i += step) grams += std::min(signatures[i].size(), kOffsetLimit);
  CGramCounts counts(grams);
  for (size_t i = 0; i < signatures.size(); i += step) {
    const auto* p = reinterpret_cast<const unsigned char*>(signatures[i].data());
    for (size_t j = 0; j + kGram <= std::min(signatures[i].size(), kOffsetLimit); ++j) counts.Add(Load4(p + j));
  }
  std::vector<int> scores;
  for (const std::string& s : signatures) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t block = ChooseBlock(s, m_stride, counts, &scores);
    for (size_t k = 0; k < m_stride; ++k) {
      CCell cell;
      const uint32_t gram = Load4(p + block + k);
      cell.signature = static_cast<uint32_t>(m_start.size() - 1);
      cell.offset = static_cast<uint16_t>(block + k);
      cell.checkOffset = static_cast<uint16_t>(CheckOffset(scores, cell.offset));
      cell.check = Load4(p + cell.checkOffset);
      cells.push_back(CGramCell{gram, cell});
    }
    m_pool += s;
    m_start.push_back(static_cast<uint32_t>(m_pool.size()));
  }
  // Equal grams side by side, by offset: their cells then sit together in the table.
  std::sort(cells.begin(), cells.end(), [](const CGramCell& a, const CGramCell& b) {
    if (a.gram != b.gram) return a.gram < b.gram;
    if (a.cell.offset != b.cell.offset) return a.cell.offset < b.cell.offset;
    return a.cell.signature < b.cell.signature;
  });
  // A gram of many cells (a word many signatures hold) would have them all compared at every
  // occurrence: its cells are checked instead by the four bytes after the gram, or else before
  // it, and sorted by them, so an occurrence looks up only the cells those bytes fit.
  for (size_t first = 0, last; first < cells.size(); first = last) {
    for (last = first + 1; last < cells.size() && cells[last].gram == cells[first].gram; ++last) {
    }
    if (last - first <= kIndexedFrom || last - first > UINT16_MAX) continue;  // counts are kept in 16 bits
    for (size_t k = first; k < last; ++k) {
      const CCell& cell = cells[k].cell;
      const size_t length = m_start[cell.signature + 1] - m_start[cell.signature];
      const auto* p = reinterpret_cast<const unsigned char*>(m_pool.data()) + m_start[cell.signature];
      if (cell.offset + 2 * kGram <= length) {
        cells[k].side = kSideAfter;
        cells[k].beside = Load4(p + cell.offset + kGram);
      } else if (cell.offset >= kGram) {
        cells[k].side = kSideBefore;
        cells[k].beside = Load4(p + cell.offset - kGram);
      }
    }
    std::stable_sort(cells.begin() + first, cells.begin() + last, [](const CGramCell& a, const CGramCell& b) {
      if (a.side != b.side) return a.side < b.side;
      return a.side != kSideOwn && a.beside < b.beside;
    });
  }
  size_t distinct = 0;
  for (size_t k = 0; k < cells.size(); ++k) distinct += k == 0 || cells[k].gram != cells[k - 1].gram;

  // A word per gram (hashed): a bitmap of its cells' windows; beside it, a byte whose bits
  // 0 .. kGramAlone tell which windows they have.
  m_windows.assign(size_t{1} << std::min(kMaxWindowWordBits, std::max(6u, Log2Ceil(distinct * kWindowWordsPerGram))), 0);
  m_windowBacks.assign(m_windows.size(), 0);
  m_windowShift = 32 - Log2Ceil(m_windows.size());
  for (const CGramCell& c : cells) {
    const size_t length = m_start[c.cell.signature + 1] - m_start[c.cell.signature];
    // The window's start, counted back from the gram: of those that fit in the signature, the
    // rarest ("php:func" rather than "function"). A signature shorter than a window lets its gram
    // through alone.
    const auto* p = reinterpret_cast<const unsigned char*>(m_pool.data()) + m_start[c.cell.signature] + c.cell.offset;
    const size_t back = length < kWindow ? kGramAlone : RarestWindowBack(p, c.cell.offset, length);
    const size_t index = WindowWord(c.gram);
    m_windowBacks[index] |= static_cast<uint8_t>(1u << back);
    if (back != kGramAlone) m_windows[index] |= uint64_t{1} << WindowBit(Load8(p - back), back);
  }

  m_table = distinct <= kBytes16Grams ? Table::kBytes16
            : distinct <= kBits20Grams ? Table::kBits20
                                       : Table::kBits24;
  m_bitmap.assign(m_table == Table::kBytes16 ? size_t{1} << 16
                  : m_table == Table::kBits20 ? size_t{1} << 17
                                              : size_t{1} << 21,
                  0);
  m_coarse.assign(m_table == Table::kBits24 ? size_t{1} << (kCoarseBits - 3) : 0, 0);
  const unsigned slotBits = std::max(4u, Log2Ceil(distinct * 2));
  m_slotShift = 32 - slotBits;
  m_slots.assign(size_t{1} << slotBits, CGramSlot{});
  m_cells.clear();
  m_cells.reserve(cells.size());
  // Kept only where some gram is looked up by them.
  m_beside.clear();
  if (std::any_of(cells.begin(), cells.end(), [](const CGramCell& c) { return c.side != kSideOwn; })) {
    m_beside.reserve(cells.size());
    for (const CGramCell& c : cells) m_beside.push_back(c.beside);
  }
  for (size_t k = 0; k < cells.size(); ++k) {
    m_cells.push_back(cells[k].cell);
    if (k + 1 < cells.size() && cells[k + 1].gram == cells[k].gram) continue;
    // The last cell of its gram.
    const uint32_t gram = cells[k].gram;
    Mark(gram);
    size_t at = HomeSlot(gram);
    while (m_slots[at].gram != 0) at = (at + 1) & (m_slots.size() - 1);
    CGramSlot& slot = m_slots[at];
    slot.gram = gram;
    slot.end = static_cast<uint32_t>(m_cells.size());
    slot.begin = slot.end;
    while (slot.begin > 0 && cells[slot.begin - 1].gram == gram) --slot.begin;
    for (uint32_t c = slot.begin; c < slot.end; ++c) {
      slot.after = static_cast<uint16_t>(slot.after + (cells[c].side == kSideAfter));
      slot.before = static_cast<uint16_t>(slot.before + (cells[c].side == kSideBefore));
    }
  }
}

size_t CSignatureFilter::HomeSlot(uint32_t gram) const { return (gram * kCellHash) >> m_slotShift; }

size_t CSignatureFilter::WindowWord(uint32_t gram) const { return (gram * kWindowGramHash) >> m_windowShift; }

unsigned CSignatureFilter::WindowBit(uint64_t window, size_t back) {
  return static_cast<unsigned>((window * kWindowHash[back]) >> 58);
}

__attribute__((always_inline)) inline bool CSignatureFilter::WindowPasses(const unsigned char* text, size_t at,
                                                                          size_t size) const {
  // The word of a gram that recurs stays in cache, whatever the bytes around it.
  const size_t index = WindowWord(Load4(text + at));
  const unsigned backs = m_windowBacks[index];
  // Near either end of the text a window cannot be read whole: the gram is let through.
  if ((backs >> kGramAlone & 1) || at < kGram || at + kWindow > size) return true;
  const uint64_t word = m_windows[index];
  // Every window is tested, its answer shifted in as a sample's is (the farthest back first, so
  // that bit `back` answers for it), and the answers of those the gram's cells have are kept: a
  // branch on which they have costs more.
  uint64_t passes = 0;
#pragma GCC unroll 5
  for (size_t back = kGramAlone; back-- > 0;) passes = ShiftInBit(passes, word, WindowBit(Load8(text + at - back), back));
  return (passes & backs) != 0;
}

void CSignatureFilter::Mark(uint32_t gram) {
  const uint64_t hash = gram * kBitmapHash;
  switch (m_table) {
    case Table::kBytes16:
      m_bitmap[hash >> 48] = 1;
      break;
    case Table::kBits20: {
      const uint32_t bit = SampledBit(gram * kSampledHash, 20);
      m_bitmap[bit >> 3] |= static_cast<uint8_t>(1u << (bit & 7));
      break;
    }
    case Table::kBits24: {
      m_bitmap[hash >> 43] |= static_cast<uint8_t>(1u << ((hash >> 40) & 7));
      const uint32_t bit = SampledBit(gram * kCoarseHash, kCoarseBits);
      m_coarse[bit >> 3] |= static_cast<uint8_t>(1u << (bit & 7));
      break;
    }
  }
}

// Forced inline into the sampling loop: a call per sample costs more than the test.
template <CSignatureFilter::Table kTable>
__attribute__((always_inline)) inline bool CSignatureFilter::Passes(uint32_t gram) const {
  const uint64_t hash = gram * kBitmapHash;
  if (kTable == Table::kBytes16) return m_bitmap[hash >> 48] != 0;
  if (kTable == Table::kBits20) {
    const uint32_t bit = SampledBit(gram * kSampledHash, 20);
    return (m_bitmap[bit >> 3] >> (bit & 7)) & 1;
  }
  return (m_bitmap[hash >> 43] >> ((hash >> 40) & 7)) & 1;  // the 2 MB bitmap alone
}

template <CSignatureFilter::Table kTable, size_t kStride, bool kRotate>
__attribute__((always_inline)) inline uint64_t CSignatureFilter::HitMask(const unsigned char* text, size_t count) const {
  // Every sample's answer goes into a bit, without a branch: where the bitmap answers yes every
  // few dozen samples, a branch per answer costs far more than the test.
  const size_t stride = kStride != 0 ? kStride : m_stride;
  uint64_t hits = 0;
  if (kTable == Table::kBytes16) {
    for (size_t k = 0; k < count; ++k) hits |= uint64_t{Passes<kTable>(Load4(text + k * stride))} << k;
    return hits;
  }
  // A bitmap read as 64-bit words (the bit of a gram is the same as in bytes, little-endian):
  // the word by the hash's top bits, the bit by the six below them. The last sample is shifted
  // in first, so that sample k ends in bit k. With the 2 MB bitmap, its first bitmap only, which
  // stays in cache: the 2 MB one is asked later (see ScanWith).
  const unsigned bits = kTable == Table::kBits20 ? 20 : kCoarseBits;
  const uint32_t multiplier = kTable == Table::kBits24 ? kCoarseHash : kSampledHash;
  const unsigned char* bitmap = kTable == Table::kBits24 ? m_coarse.data() : m_bitmap.data();
  const unsigned char* last = text + (count - 1) * stride;
  auto sample = [&](const unsigned char* at) {
    const uint32_t hash = Load4(at) * multiplier;
    uint64_t bit = SampledBit(hash, bits);
#if defined(__GNUC__) && defined(__x86_64__)
    // The bit test reads only the low six bits of its operand: rotating the hash brings them
    // there without the copy that a second shift needs (six instructions a sample, not seven).
    if (kRotate) asm("rorxl %[shift], %[hash], %k[bit]" : [bit] "=r"(bit) : [hash] "r"(hash), [shift] "i"(32 - bits));
#endif
    hits = ShiftInBit(hits, Load8(bitmap + (size_t{hash >> (32 - bits + 6)} << 3)), bit);
  };
  size_t k = 0;
  if (kStride != 0 && count == kSamplesPerMask) {
    // A whole block (all but a text's last): every sample at a fixed displacement from one
    // pointer, without a loop's counting.
#pragma GCC unroll 64
    for (size_t j = 0; j < kSamplesPerMask; ++j) sample(last - j * kStride);
    return hits;
  }
  if (kStride != 0) {
    // Eight samples from one pointer, each at a fixed displacement.
    for (; k + 8 <= count; k += 8) {
      const unsigned char* at = last - k * stride;
#pragma GCC unroll 8
      for (size_t j = 0; j < 8; ++j) sample(at - j * stride);
    }
  }
#pragma GCC unroll 8
  for (; k < count; ++k) sample(last - k * stride);
  return hits;
}

template <CSignatureFilter::Table kTable, size_t kStride, bool kRotate>
CSignatureFilter::Outcome CSignatureFilter::ScanWith(const unsigned char* text, size_t size,
                                                     size_t workAllowance, size_t* resumeAt, CharStarts rule,
                                                     IMatchSink& sink) const {
  CGbkCharStarts starts(text, size);
  size_t work = 0;
  const size_t end = size - kGram + 1;  // sample positions whose gram fits
  const size_t mask = m_slots.size() - 1;
  const size_t stride = kStride != 0 ? kStride : m_stride;
  // Walks the hits of the block sampled from first; kNoMatch unless the scan must end.
  auto walk = [&](uint64_t hits, size_t first) {
    for (; hits != 0; hits &= hits - 1) {
      const size_t at = first + static_cast<size_t>(__builtin_ctzll(hits)) * stride;
      const uint32_t gram = Load4(text + at);
      bool forgotten = false;
      auto tooMuch = [&](size_t more) {
        work += more;
        if (work <= workAllowance + at) return false;
        *resumeAt = starts.StartAtOrBefore(at > m_maxLength ? at - m_maxLength : 0);
        return true;
      };
      // The gram's slot, then every cell of the gram (counted as work at once).
      size_t slot = HomeSlot(gram);
      for (; m_slots[slot].gram != 0 && m_slots[slot].gram != gram; slot = (slot + 1) & mask) {
        if (tooMuch(1)) return Outcome::kTooMuchWork;
      }
      const CGramSlot& cells = m_slots[slot];
      // Compares cells [c, last), which lie by offset; true when the sink stopped the scan.
      auto compare = [&](uint32_t c, uint32_t last) {
        for (; c < last; ++c) {
          const CCell& cell = m_cells[c];
          if (cell.offset > at) break;  // so are the rest
          const size_t from = at - cell.offset;
          if (from + cell.checkOffset + kGram > size || Load4(text + from + cell.checkOffset) != cell.check) continue;
          const uint32_t begin = m_start[cell.signature];
          const size_t length = m_start[cell.signature + 1] - begin;
          if (from + length > size || !SameBytes(text + from, m_pool.data() + begin, length)) continue;
          if (rule == CharStarts::kGbk) {
            if (!forgotten) {
              starts.Forget(at > m_maxLength ? at - m_maxLength : 0);
              forgotten = true;
            }
            if (!starts.IsStart(from)) continue;
          }
          if (sink.OnMatch(cell.signature)) return true;
        }
        return false;
      };
      uint32_t c = cells.begin;
      // Cells checked by the bytes after or before the gram: only those these bytes fit.
      for (const bool after : {true, false}) {
        const uint32_t last = c + (after ? cells.after : cells.before);
        if (last == c) continue;
        if (after ? at + 2 * kGram <= size : at >= kGram) {
          const uint32_t beside = Load4(text + (after ? at + kGram : at - kGram));
          const auto fit = std::equal_range(m_beside.begin() + c, m_beside.begin() + last, beside);
          const auto from = static_cast<uint32_t>(fit.first - m_beside.begin());
          const auto to = static_cast<uint32_t>(fit.second - m_beside.begin());
          if (tooMuch(to - from + 1)) return Outcome::kTooMuchWork;
          if (compare(from, to)) return Outcome::kMatch;
        }
        c = last;
      }
      if (tooMuch(cells.end - c + 1)) return Outcome::kTooMuchWork;
      if (compare(c, cells.end)) return Outcome::kMatch;
    }
    return Outcome::kNoMatch;
  };
  // With the 2 MB bitmap, blocks of samples go through stages one block apart, each reading what
  // the one before asked memory for: sampled; tested against the 2 MB bitmap; windows tested;
  // slots read; walked. Their bitmap bytes, window words, slots and cells are seldom in a near
  // cache, and waiting for each in turn cost more than the sampling itself. With the smaller
  // ones a block goes through at once (the stages cost more there), its window words all asked
  // for before the first is tested.
  constexpr bool kStaged = kTable == Table::kBits24;
  struct CBlock {
    uint64_t hits = 0;
    size_t first = 0;
  };
  CBlock fine, windowed, slotted, passed;
  auto gramAt = [&](const CBlock& block, uint64_t left) {
    return Load4(text + block.first + static_cast<size_t>(__builtin_ctzll(left)) * stride);
  };
  for (size_t first = 0;;) {
    CBlock sampled{0, first};
    size_t count = 0;
    if (first < end) {
      count = end - first > (kSamplesPerMask - 1) * stride ? kSamplesPerMask : (end - first + stride - 1) / stride;
      sampled.hits = HitMask<kTable, kStride, kRotate>(text + first, count);
    }
    if (kStaged) {
      for (uint64_t left = sampled.hits; left != 0; left &= left - 1) {
        __builtin_prefetch(&m_bitmap[(gramAt(sampled, left) * kBitmapHash) >> 43]);
      }
      for (uint64_t left = fine.hits; left != 0; left &= left - 1) {
        fine.hits &= ~(uint64_t{!Passes<kTable>(gramAt(fine, left))} << __builtin_ctzll(left));
      }
    }
    if (!kStaged) windowed = sampled;
    const CBlock& next = kStaged ? fine : sampled;
    for (uint64_t left = next.hits; left != 0; left &= left - 1) {
      const size_t index = WindowWord(gramAt(next, left));
      __builtin_prefetch(&m_windows[index]);
      __builtin_prefetch(&m_windowBacks[index]);
    }
    for (uint64_t left = windowed.hits; left != 0; left &= left - 1) {
      const unsigned k = static_cast<unsigned>(__builtin_ctzll(left));
      windowed.hits &= ~(uint64_t{!WindowPasses(text, windowed.first + k * stride, size)} << k);
    }
    if (kStaged) {
      for (uint64_t left = windowed.hits; left != 0; left &= left - 1) {
        __builtin_prefetch(&m_slots[HomeSlot(gramAt(windowed, left))]);
      }
      for (uint64_t left = slotted.hits; left != 0; left &= left - 1) {
        const uint32_t gram = gramAt(slotted, left);
        const CGramSlot& slot = m_slots[HomeSlot(gram)];
        if (slot.gram == gram) __builtin_prefetch(&m_cells[slot.begin]);
      }
    } else {
      passed = windowed;
      windowed = CBlock();
    }
    if (passed.hits != 0) {
      const Outcome outcome = walk(passed.hits, passed.first);
      if (outcome != Outcome::kNoMatch) return outcome;
    }
    if (first >= end && fine.hits == 0 && windowed.hits == 0 && slotted.hits == 0) break;
    if (kStaged) {
      passed = slotted;
      slotted = windowed;
      windowed = fine;
      fine = sampled;
    }
    first += count * stride;
  }
  return Outcome::kNoMatch;
}

CSignatureFilter::Outcome CSignatureFilter::Scan(const char* text, size_t size, size_t workAllowance,
                                                 size_t* resumeAt, CharStarts rule, IMatchSink& sink) const {
  if (m_start.size() <= 1 || size < kGram) return Outcome::kNoMatch;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  const bool rotate = RotatesSamples();
  switch (m_table) {
    case Table::kBytes16:
      return ScanWith<Table::kBytes16>(bytes, size, workAllowance, resumeAt, rule, sink);
    case Table::kBits20:
      if (m_stride == 5 && rotate) return ScanWith<Table::kBits20, 5, true>(bytes, size, workAllowance, resumeAt, rule, sink);
      if (m_stride == 5) return ScanWith<Table::kBits20, 5>(bytes, size, workAllowance, resumeAt, rule, sink);
      return ScanWith<Table::kBits20>(bytes, size, workAllowance, resumeAt, rule, sink);
    case Table::kBits24:
      break;
  }
  if (m_stride == 2 && rotate) return ScanWith<Table::kBits24, 2, true>(bytes, size, workAllowance, resumeAt, rule, sink);
  if (m_stride == 2) return ScanWith<Table::kBits24, 2>(bytes, size, workAllowance, resumeAt, rule, sink);
  if (m_stride == 5 && rotate) return ScanWith<Table::kBits24, 5, true>(bytes, size, workAllowance, resumeAt, rule, sink);
  if (m_stride == 5) return ScanWith<Table::kBits24, 5>(bytes, size, workAllowance, resumeAt, rule, sink);
  return ScanWith<Table::kBits24>(bytes, size, workAllowance, resumeAt, rule, sink);
}

size_t CSignatureFilter::MemoryBytes() const {
  return m_bitmap.capacity() + m_coarse.capacity() + m_windows.capacity() * sizeof(uint64_t) + m_windowBacks.capacity() +
         m_slots.capacity() * sizeof(CGramSlot) + m_beside.capacity() * sizeof(uint32_t) +
         m_cells.capacity() * sizeof(CCell) + m_pool.capacity() +
         m_start.capacity() * sizeof(uint32_t);
}

std::vector<std::string> CSignatureFilter::Signatures() const {
  std::vector<std::string> signatures;
  if (m_start.empty()) return signatures;
  signatures.reserve(m_start.size() - 1);
  for (size_t i = 0; i + 1 < m_start.size(); ++i) signatures.push_back(m_pool.substr(m_start[i], m_start[i + 1] - m_start[i]));
  return signatures;
}
