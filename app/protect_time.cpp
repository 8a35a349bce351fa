#include "app/protect_time.h"

#include <cstdio>

std::string ProtectTimeText(int64_t s) {
  char text[64];
  const int days = static_cast<int>(s / 86400);
  const int hours = static_cast<int>(s % 86400 / 3600);
  const int minutes = static_cast<int>(s % 3600 / 60);
  const int seconds = static_cast<int>(s % 60);
  if (s >= 86400)
    std::snprintf(text, sizeof(text), "%d天%d时%d分%d秒", days, hours, minutes, seconds);
  else if (s >= 3600)
    std::snprintf(text, sizeof(text), "%d时%d分%d秒", hours, minutes, seconds);
  else if (s >= 60)
    std::snprintf(text, sizeof(text), "%d分%d秒", minutes, seconds);
  else
    std::snprintf(text, sizeof(text), "%d秒", seconds);
  return text;
}

std::string FormatProtectTime(int64_t& protectSeconds, int32_t& secondsSinceStart) {
  ++protectSeconds;
  ++secondsSinceStart;
  return ProtectTimeText(protectSeconds);
}

void PickRelatedSoftware(const std::vector<std::string>& list, std::string& text, std::string& link) {
  text.clear();
  link.clear();
  for (size_t i = 0; i < list.size(); ++i) (i % 2 == 0 ? text : link) = list[i];
}
