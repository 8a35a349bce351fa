#pragma once
// The fast path of the signature matcher. The text is sampled every `stride` positions and the
// four bytes at each sample are tested against a hashed bitmap. Every signature puts in the
// bitmap the four-byte grams at `stride` consecutive offsets (the block rarest in ordinary web
// scripts), so whichever way an occurrence falls, one sample lands on one of them. Only where the
// bitmap answers yes is the gram looked up and the signatures that carry it compared in full.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "webguard/gbk_text.h"

// Told of each signature found; true stops the scan.
class IMatchSink {
 public:
  virtual ~IMatchSink() = default;
  // signature: its position in the list the matcher was built from (empty ones left out).
  virtual bool OnMatch(uint32_t signature) = 0;
};

// How rare a byte is in ordinary web scripts (higher: rarer).
int ByteRarity(unsigned char c);
// The same of a run of bytes: the sum of theirs.
int Rarity(const void* bytes, size_t size);
// The same, less a cost when the run lies inside a word ordinary scripts are full of ("val" of
// "value" is far commoner than its letters say).
int RarityInScripts(const void* bytes, size_t size);
// Whether two runs of `size` bytes are equal, by eight or four bytes at a time: a signature is
// usually a few words long, where a call to memcmp costs more than the compare.
bool SameBytes(const void* a, const void* b, size_t size);

// Whether samples may be hashed with BMI2's rotate where the processor has it (the default);
// off, by shifts alone. For tests that compare both.
void UseRotatedSamples(bool allowed);

class CSignatureFilter {
 public:
  static constexpr size_t kGram = 4;
  static constexpr size_t kMaxStride = 8;

  enum class Outcome { kNoMatch, kMatch, kTooMuchWork };

  // Every signature must be at least kGram bytes long.
  void Build(const std::vector<std::string>& signatures);
  // Scans a text that begins at a character start. kTooMuchWork: the text makes the filter
  // verify far more than ordinary text does (hostile or degenerate input); *resumeAt is then a
  // character start from which another method must finish the scan: every match beginning
  // before it has been looked at.
  // Every verified occurrence (at a character start by the rule) goes to the sink, which may
  // hear of one signature several times; kMatch: the sink stopped the scan.
  Outcome Scan(const char* text, size_t size, size_t workAllowance, size_t* resumeAt, CharStarts rule,
               IMatchSink& sink) const;
  size_t MemoryBytes() const;
  size_t Stride() const { return m_stride; }
  // The signatures it was built from, in their order.
  std::vector<std::string> Signatures() const;

 private:
  // One gram of one signature. The cells of one gram lie side by side (m_cells, sorted), found
  // through an open-addressed table of the distinct grams, so a gram that many signatures share
  // costs one probe before its cells. Four more bytes of the signature let most chance
  // occurrences of the gram be turned away without reading the signature itself.
  struct CCell {
    uint32_t signature = 0;
    uint16_t offset = 0;       // of the gram inside the signature
    uint16_t checkOffset = 0;  // of the check bytes inside the signature
    uint32_t check = 0;
  };
  struct CGramSlot {
    uint32_t gram = 0;  // 0: free slot (grams never hold a zero byte)
    uint32_t begin = 0, end = 0;  // its cells: m_cells[begin .. end)
    // A gram of many cells: its first `after` cells are checked by the four bytes after the
    // gram, the next `before` by the four before it, each run sorted by them (see Build).
    uint16_t after = 0, before = 0;
  };

  // Bitmap sizes: a byte per cell for small sets (no bit arithmetic), bits for large ones. The
  // largest (2 MB) is asked only where a first bitmap of 256 KB, which stays in the processor's
  // cache, lets a gram through.
  enum class Table { kBytes16, kBits20, kBits24 };

  // kBits24: the 2 MB bitmap alone (the first is tested in HitMask).
  template <Table kTable>
  bool Passes(uint32_t gram) const;
  // Whether the eight bytes around a sampled gram may be those of one of its signatures.
  bool WindowPasses(const unsigned char* text, size_t at, size_t size) const;
  size_t WindowWord(uint32_t gram) const;
  // Where a gram's slot is looked for first.
  size_t HomeSlot(uint32_t gram) const;
  static unsigned WindowBit(uint64_t window, size_t back);
  // Samples looked at before any bitmap answer is acted on.
  static constexpr size_t kSamplesPerMask = 64;
  // Bit k: the sample text + k * stride passes (count <= kSamplesPerMask samples); with the
  // 2 MB bitmap, passes its first bitmap (the 2 MB one is asked later, see ScanWith).
  // kStride: the stride when known at compile time (0: m_stride). kRotate: the processor has
  // BMI2 (see HitMask).
  template <Table kTable, size_t kStride, bool kRotate>
  uint64_t HitMask(const unsigned char* text, size_t count) const;
  template <Table kTable, size_t kStride = 0, bool kRotate = false>
  Outcome ScanWith(const unsigned char* text, size_t size, size_t workAllowance, size_t* resumeAt, CharStarts rule,
                   IMatchSink& sink) const;
  void Mark(uint32_t gram);

  Table m_table = Table::kBytes16;
  size_t m_stride = 1;
  size_t m_maxLength = 0;
  std::vector<uint8_t> m_bitmap;
  std::vector<uint8_t> m_coarse;  // kBits24: the first bitmap
  // Most grams found in a text are ordinary code that some signature happens to hold. Each cell
  // also marks, in a word chosen by its gram, eight bytes of its signature around the gram (the
  // rarest that begin at most four bytes before it), and beside the word how far back they
  // begin; a signature shorter than eight bytes marks its gram as let through whole. A sample
  // whose windows fit no mark is turned away before its slot and cells are read, and the word
  // of a gram that recurs stays in cache.
  std::vector<uint64_t> m_windows;
  std::vector<uint8_t> m_windowBacks;
  unsigned m_windowShift = 63;
  std::vector<CGramSlot> m_slots;
  std::vector<CCell> m_cells;
  // Per cell of a gram of many: the four bytes after or before the gram it is looked up by.
  std::vector<uint32_t> m_beside;
  unsigned m_slotShift = 31;
  std::string m_pool;             // every signature, back to back
  std::vector<uint32_t> m_start;  // signature i: m_pool[m_start[i] .. m_start[i + 1])
};
