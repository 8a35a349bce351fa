#pragma once
// Signature sets of the matcher benchmark, as the library hands them out: the stand-in
// library's list, extended entries made from it, and 100,000 synthetic entries shaped like
// web-shell signatures (common call prefixes, then tails that ordinary code does not contain);
// and a file scanned as the checker scans it, which every bench tool that times or counts the
// check uses.
#include <cstddef>
#include <string>
#include <vector>

class CSignatureScan;

std::vector<std::string> ShippedSignatures();
// The shipped list's own plain signatures turned into up to count extended entries, a third of
// each kind: N single parts, and raw and N conjunctions of one with a call ordinary code makes.
// Each plain signature of 8 bytes and more (also normalised) serves three times at most, so the
// list as it stands gives 18.
std::vector<std::string> ExtendedFromShipped(int count);
// The list the benchmark calls shipped: the shipped list and 150 extended entries asked of it.
std::vector<std::string> ShippedWithExtended();
// Plain signatures only (the set measured before extended entries existed).
std::vector<std::string> SyntheticSignatures(int count = 100000);
// count entries: plain ones from SyntheticSignatures, and one in ten extended: N entries with
// one or two parts written with capitals and blanks, raw conjunctions of two or three parts.
std::vector<std::string> SyntheticEntries(int count = 100000);

// A file checked as the checker checks it: the scan restarted, then fed in the checker's pieces.
bool ScanFile(CSignatureScan& scan, const char* text, size_t size);
