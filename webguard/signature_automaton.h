#pragma once
// An Aho-Corasick automaton over the signature bytes: one pass over a text whatever the number
// of signatures, and linear time on any text. The matcher uses it for sets with very short
// signatures and to finish texts on which its filter would do too much verification.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "webguard/gbk_text.h"
#include "webguard/signature_filter.h"

class CSignatureAutomaton {
 public:
  void Build(const std::vector<std::string>& signatures);
  // The text must begin at a character start.
  bool Matches(const char* text, size_t size) const;
  // Every occurrence (at a character start by the rule) goes to the sink, as the filter does;
  // true when the sink stopped the scan.
  bool Scan(const char* text, size_t size, CharStarts rule, IMatchSink& sink) const;
  bool Empty() const { return m_nodeCount <= 1; }
  size_t MemoryBytes() const;

 private:
  uint32_t Child(uint32_t node, unsigned char c) const;
  uint32_t Step(uint32_t node, unsigned char c) const;

  uint32_t m_nodeCount = 0;
  // Edges of node n: m_edgeLabel/m_edgeTarget[m_edgeStart[n] .. m_edgeStart[n+1]), sorted by label.
  std::vector<uint32_t> m_edgeStart;
  std::vector<unsigned char> m_edgeLabel;
  std::vector<uint32_t> m_edgeTarget;
  std::vector<uint32_t> m_fail;
  // Nodes with many children get a full 256-entry row (index into m_dense, or kNoRow);
  // the root's row already folds in the failure transitions.
  std::vector<uint32_t> m_denseRow;
  std::vector<uint32_t> m_dense;
  // m_outLength[n]: length of the longest signature ending at node n (0: none);
  // m_outNext[n]: the next node on n's failure chain that ends a signature (0: none).
  std::vector<uint32_t> m_outLength;
  std::vector<uint32_t> m_outNext;
  // m_outId[n]: the signature ending at node n (its position in the list built from).
  std::vector<uint32_t> m_outId;
  size_t m_maxLength = 0;
};
