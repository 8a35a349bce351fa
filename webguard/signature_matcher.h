#pragma once
// Finds whether any of a set of signatures occurs in a text, in one pass over the text
// whatever the number of signatures (an Aho-Corasick automaton over the signature bytes).
// A match counts only when it begins at a character start of GBK text: a lead byte
// (0x81..0xFE) followed by another byte of the text forms one double-byte character, so a
// signature never matches from the second byte of such a character.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

class CSignatureMatcher {
 public:
  // Empty signatures are ignored here; the caller has already cut the list at the first one.
  void Build(const std::vector<std::string>& signatures);
  bool Matches(const char* text, size_t size) const;
  bool Empty() const { return m_nodeCount <= 1; }

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
  size_t m_maxLength = 0;
};

// The plain reference: one search per signature, in list order.
bool OccursAtCharStart(const char* text, size_t size, const std::string& signature);
bool AnySignatureOccurs(const char* text, size_t size, const std::vector<std::string>& signatures);
