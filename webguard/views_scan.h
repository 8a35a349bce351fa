#pragma once
// Both views of a file through their scans, the converted one only where it differs from the
// bytes: a file that is ASCII (or already GBK) is scanned once, not as two identical texts.
#include <cstddef>
#include <string>

#include "webguard/script_text.h"
#include "webguard/signature_rules.h"

class CViewsScan {
 public:
  // The scans are the caller's (kept from file to file); both see the same rules.
  CViewsScan(CSignatureScan& bytes, CSignatureScan& converted) : m_bytes(bytes), m_converted(converted) {}
  // Ready for the next file.
  void Restart();
  // The views of the next piece, as a decoder that leaves the same view out gives them; true
  // once an entry has matched.
  bool Feed(const CScriptViews& views);
  // The end of the file: the answer.
  bool Finish();

 private:
  // The converted view becomes a text of its own: what it held back so far goes first.
  bool Part();

  // Pieces whose converted text is their bytes are held back (their bytes are that text) until
  // the views part or this much is held; then the converted scan takes them.
  static constexpr size_t kHeldLimit = size_t{8} << 20;
  CSignatureScan& m_bytes;
  CSignatureScan& m_converted;
  std::string m_held;
  bool m_bParted = false;
  bool m_bFound = false;
};
