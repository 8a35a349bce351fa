#include "logonguard/logon_event.h"

#include <cctype>

bool IsAnonymousUser(const std::string& user) {
  std::string lower;
  for (char c : user) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "anonymous logon" || lower == "anonymous" || lower == "ftp";
}

bool IsClearingLogonType(int type) {
  for (int clearing : kClearingLogonTypes)
    if (type == clearing) return true;
  return false;
}

namespace {

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool Digits(const std::string& text, size_t at, size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

int64_t ReadRecordTime(const std::string& text) {
  // YYYY-MM-DD?HH:MM:SS, then nothing, a fraction, and for the event log a closing Z.
  int year, month, day, hour, minute, second;
  if (text.size() < 19 || text.size() > kMaxTimeBytes || !Digits(text, 0, 4, year) || text[4] != '-' ||
      !Digits(text, 5, 2, month) || text[7] != '-' || !Digits(text, 8, 2, day) ||
      (text[10] != 'T' && text[10] != ' ') || !Digits(text, 11, 2, hour) || text[13] != ':' ||
      !Digits(text, 14, 2, minute) || text[16] != ':' || !Digits(text, 17, 2, second))
    return 0;
  size_t pos = 19;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    const size_t fraction = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
    if (pos == fraction) return 0;
  }
  if (text[10] == 'T') {
    if (pos + 1 != text.size() || text[pos] != 'Z') return 0;
  } else if (pos != text.size()) {
    return 0;
  }
  static const int kDaysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 2000 || month < 1 || month > 12 || day < 1 || day > kDaysIn[month - 1] || hour > 23 || minute > 59 ||
      second > 60)
    return 0;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return 0;
  if (second == 60) second = 59;  // a leap second counts as the second before it
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}
