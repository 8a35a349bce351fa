#pragma once
// UTF-8 to GBK as the program's converter does it (iconv here, WideCharToMultiByte on Windows),
// for the logon guard tests that hand the readers a converter.
#include <iconv.h>

#include <string>

inline std::string Gbk(const std::string& utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  std::string out(utf8.size() * 2 + 4, '\0');
  char* from = const_cast<char*>(utf8.data());
  char* to = &out[0];
  size_t left = utf8.size(), room = out.size();
  const size_t done = iconv(cd, &from, &left, &to, &room);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1)) return utf8;  // not UTF-8, or nothing GBK has: kept as it is
  out.resize(out.size() - room);
  return out;
}
