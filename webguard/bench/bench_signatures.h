#pragma once
// Signature sets of the matcher benchmark: the stand-in library's set and 100,000 synthetic
// signatures shaped like web-shell signatures (common call prefixes, then tails that ordinary
// code does not contain).
#include <string>
#include <vector>

std::vector<std::string> ShippedSignatures();
std::vector<std::string> SyntheticSignatures(int count = 100000);
