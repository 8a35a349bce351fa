#pragma once
// Texts of the main window's status area.
#include <cstdint>
#include <string>
#include <vector>

// "%d天%d时%d分%d秒" down to "%d秒", by the size of the value.
std::string ProtectTimeText(int64_t seconds);

// One second of protection: counts it in both counters and gives the text of the new total.
std::string FormatProtectTime(int64_t& protectSeconds, int32_t& secondsSinceStart);

// Even positions of the related-software list are texts, odd ones links; the last of each wins.
void PickRelatedSoftware(const std::vector<std::string>& list, std::string& text, std::string& link);
