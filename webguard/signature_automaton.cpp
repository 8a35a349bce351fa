#include "webguard/signature_automaton.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

constexpr uint32_t kNone = 0;        // no child: node 0 is the root and never anyone's child
constexpr uint32_t kNoRow = ~0u;
constexpr uint32_t kDenseFrom = 16;  // children from which a node gets a full row

// The trie as it grows from sorted signatures: children linked in ascending label order.
struct CGrowingTrie {
  std::vector<uint32_t> firstChild{kNone}, lastChild{kNone}, nextSibling{kNone};
  std::vector<unsigned char> label{0};
  std::vector<uint32_t> depth{0};
  std::vector<uint32_t> terminal{0};  // 1 + the signature's position; 0: none ends here

  uint32_t AddChild(uint32_t parent, unsigned char c) {
    const uint32_t node = static_cast<uint32_t>(label.size());
    firstChild.push_back(kNone);
    lastChild.push_back(kNone);
    nextSibling.push_back(kNone);
    label.push_back(c);
    depth.push_back(depth[parent] + 1);
    terminal.push_back(0);
    if (lastChild[parent] == kNone) {
      firstChild[parent] = node;
    } else {
      nextSibling[lastChild[parent]] = node;
    }
    lastChild[parent] = node;
    return node;
  }

  // Signatures in ascending byte order: a new branch always adds the largest label so far.
  void AddSorted(const std::vector<std::string>& signatures, const std::vector<uint32_t>& sorted) {
    std::vector<uint32_t> path{0};  // path[d] = node at depth d of the previous signature
    const std::string* previous = nullptr;
    for (const uint32_t id : sorted) {
      const std::string* s = &signatures[id];
      size_t common = 0;
      if (previous) {
        const size_t limit = std::min(previous->size(), s->size());
        while (common < limit && (*previous)[common] == (*s)[common]) ++common;
      }
      path.resize(common + 1);
      for (size_t d = common; d < s->size(); ++d) {
        path.push_back(AddChild(path[d], static_cast<unsigned char>((*s)[d])));
      }
      // Of equal signatures the first is reported.
      if (!terminal[path[s->size()]]) terminal[path[s->size()]] = id + 1;
      previous = s;
    }
  }
};

}  // namespace

void CSignatureAutomaton::Build(const std::vector<std::string>& signatures) {
  std::vector<uint32_t> sorted;
  sorted.reserve(signatures.size());
  m_maxLength = 0;
  for (size_t i = 0; i < signatures.size(); ++i) {
    if (signatures[i].empty()) continue;
    sorted.push_back(static_cast<uint32_t>(i));
    m_maxLength = std::max(m_maxLength, signatures[i].size());
  }
  std::stable_sort(sorted.begin(), sorted.end(), [&](uint32_t x, uint32_t y) {
    const std::string* a = &signatures[x];
    const std::string* b = &signatures[y];
    return std::lexicographical_compare(a->begin(), a->end(), b->begin(), b->end(),
                                        [](char x, char y) {
                                          return static_cast<unsigned char>(x) <
                                                 static_cast<unsigned char>(y);
                                        });
  });
  CGrowingTrie trie;
  trie.AddSorted(signatures, sorted);

  // Renumber breadth first, so shallow (often visited) nodes sit together, and lay the edges
  // out contiguously per node.
  const uint32_t count = static_cast<uint32_t>(trie.label.size());
  m_nodeCount = count;
  m_edgeStart.assign(count + 1, 0);
  m_edgeLabel.clear();
  m_edgeTarget.clear();
  m_edgeLabel.reserve(count - 1);
  m_edgeTarget.reserve(count - 1);
  std::vector<uint32_t> order{0};  // order[new id] = old id
  order.reserve(count);
  m_outLength.assign(count, 0);
  m_outId.assign(count, 0);
  for (uint32_t id = 0; id < count; ++id) {
    const uint32_t old = order[id];
    m_edgeStart[id] = static_cast<uint32_t>(m_edgeLabel.size());
    if (trie.terminal[old]) {
      m_outLength[id] = trie.depth[old];
      m_outId[id] = trie.terminal[old] - 1;
    }
    for (uint32_t c = trie.firstChild[old]; c != kNone; c = trie.nextSibling[c]) {
      m_edgeLabel.push_back(trie.label[c]);
      m_edgeTarget.push_back(static_cast<uint32_t>(order.size()));
      order.push_back(c);
    }
  }
  m_edgeStart[count] = static_cast<uint32_t>(m_edgeLabel.size());

  m_denseRow.assign(count, kNoRow);
  m_dense.clear();
  for (uint32_t n = 0; n < count; ++n) {
    if (n != 0 && m_edgeStart[n + 1] - m_edgeStart[n] < kDenseFrom) continue;
    m_denseRow[n] = static_cast<uint32_t>(m_dense.size() / 256);
    m_dense.resize(m_dense.size() + 256, kNone);
    for (uint32_t e = m_edgeStart[n]; e < m_edgeStart[n + 1]; ++e) {
      m_dense[m_denseRow[n] * 256 + m_edgeLabel[e]] = m_edgeTarget[e];
    }
  }

  // Failure links and output chains, parents before children (ids are breadth first).
  m_fail.assign(count, 0);
  m_outNext.assign(count, kNone);
  for (uint32_t n = 0; n < count; ++n) {
    for (uint32_t e = m_edgeStart[n]; e < m_edgeStart[n + 1]; ++e) {
      const unsigned char c = m_edgeLabel[e];
      const uint32_t child = m_edgeTarget[e];
      uint32_t fail = 0;
      if (n != 0) {
        uint32_t f = m_fail[n];
        for (;;) {
          const uint32_t t = Child(f, c);
          if (t != kNone) { fail = t; break; }
          if (f == 0) break;
          f = m_fail[f];
        }
      }
      m_fail[child] = fail;
      m_outNext[child] = m_outLength[fail] ? fail : m_outNext[fail];
    }
  }
}

uint32_t CSignatureAutomaton::Child(uint32_t node, unsigned char c) const {
  const uint32_t row = m_denseRow[node];
  if (row != kNoRow) return m_dense[static_cast<size_t>(row) * 256 + c];
  const uint32_t begin = m_edgeStart[node], end = m_edgeStart[node + 1];
  for (uint32_t e = begin; e < end; ++e) {
    if (m_edgeLabel[e] >= c) return m_edgeLabel[e] == c ? m_edgeTarget[e] : kNone;
  }
  return kNone;
}

uint32_t CSignatureAutomaton::Step(uint32_t node, unsigned char c) const {
  for (;;) {
    const uint32_t t = Child(node, c);
    if (t != kNone || node == 0) return t;
    node = m_fail[node];
  }
}

namespace {

class CFirstMatch : public IMatchSink {
 public:
  bool OnMatch(uint32_t) override { return true; }
};

}  // namespace

bool CSignatureAutomaton::Matches(const char* text, size_t size) const {
  CFirstMatch first;
  return Scan(text, size, CharStarts::kGbk, first);
}

bool CSignatureAutomaton::Scan(const char* text, size_t size, CharStarts rule, IMatchSink& sink) const {
  if (Empty() || size == 0) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  if (rule == CharStarts::kEveryByte) {
    uint32_t node = 0;
    for (size_t i = 0; i < size; ++i) {
      node = Step(node, bytes[i]);
      for (uint32_t out = m_outLength[node] ? node : m_outNext[node]; out != kNone; out = m_outNext[out]) {
        if (sink.OnMatch(m_outId[out])) return true;
      }
    }
    return false;
  }
  // Whether each of the last m_maxLength positions starts a character, in a ring.
  size_t ringSize = 1;
  while (ringSize < std::min(m_maxLength, size) + 1) ringSize <<= 1;
  const size_t mask = ringSize - 1;
  std::vector<uint8_t> charStart(ringSize, 0);
  size_t nextCharStart = 0;
  uint32_t node = 0;
  for (size_t i = 0; i < size; ++i) {
    const unsigned char c = bytes[i];
    const bool starts = i == nextCharStart;
    if (starts) nextCharStart = i + (IsGbkLeadByte(c) && i + 1 < size ? 2 : 1);
    charStart[i & mask] = starts;
    node = Step(node, c);
    for (uint32_t out = m_outLength[node] ? node : m_outNext[node]; out != kNone; out = m_outNext[out]) {
      if (charStart[(i + 1 - m_outLength[out]) & mask] && sink.OnMatch(m_outId[out])) return true;
    }
  }
  return false;
}

size_t CSignatureAutomaton::MemoryBytes() const {
  return (m_edgeStart.capacity() + m_edgeTarget.capacity() + m_fail.capacity() + m_denseRow.capacity() +
          m_dense.capacity() + m_outLength.capacity() + m_outNext.capacity() + m_outId.capacity()) *
             sizeof(uint32_t) +
         m_edgeLabel.capacity();
}
