#include "alerts/service_answers.h"

#include <cstdint>
#include <cstdlib>

#include "common/crt_text.h"

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
}  // namespace

std::string TrimAnswer(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

int32_t AnswerNumber(const std::string& text) { return CAtoi(text.c_str()); }

bool IsUsableTimeStamp(const std::string& trimmed) { return AnswerNumber(trimmed) > 0; }

bool IsPlainNumber(const std::string& trimmed) {
  const size_t digits = !trimmed.empty() && trimmed[0] == '-' ? 1 : 0;
  if (trimmed.size() <= digits || trimmed.size() - digits > 10 ||
      trimmed.find_first_not_of("0123456789", digits) != std::string::npos)
    return false;
  // Ten digits may still pass the int range, where the number would stop at its limit.
  const int32_t number = AnswerNumber(trimmed);
  return (number != INT32_MAX && number != INT32_MIN) || std::to_string(number) == trimmed;
}

bool IsValidFigure(const std::string& trimmed) {
  if (!IsPlainNumber(trimmed)) return false;
  const int32_t number = AnswerNumber(trimmed);
  if (number == -1) return false;
  return number != 0 || trimmed == "0";
}

std::string ClockSkewMinutes(int64_t now, const std::string& serviceTime) {
  if (!IsPlainNumber(serviceTime) || AnswerNumber(serviceTime) <= 0) return std::string();
  const int64_t difference = std::llabs(now - static_cast<int64_t>(AnswerNumber(serviceTime)));
  const int64_t minutes = difference / 60;
  return minutes >= 3 ? std::to_string(minutes) : std::string();
}

void SplitAnswer(const std::string& text, std::vector<std::string>& list) {
  list.clear();
  size_t start = 0;
  for (size_t comma = text.find(','); comma != std::string::npos; comma = text.find(',', start)) {
    list.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  if (start < text.size()) list.push_back(text.substr(start));
}

std::string EscapeQueryValue(const std::string& value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const bool special = byte < 0x20 || byte == 0x7F || c == '&' || c == '#' || c == '%' || c == '+' ||
                         c == '=' || c == '?' || c == ' ' || c == '\\';
    if (special) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}
