#pragma once
// How the service's answers are read and how values go into a request address.
#include <cstdint>
#include <string>
#include <vector>

// White space removed at both ends.
std::string TrimAnswer(const std::string& text);

// The C library's atoi of the text.
int32_t AnswerNumber(const std::string& text);

// A time stamp answer is usable when its number is above zero.
bool IsUsableTimeStamp(const std::string& trimmed);

// Whether the whole text is one decimal number within int ("-" and digits only); an error
// page or a cut answer that merely begins with digits is none.
bool IsPlainNumber(const std::string& trimmed);

// A balance or day figure is kept when it is a plain number, not -1, and not 0 unless the
// text is exactly "0".
bool IsValidFigure(const std::string& trimmed);

// Whole minutes between the local clock and the service's time, a plain number above 0; only
// skews of 3 minutes or more count, so the result is "" below that and for any other answer.
std::string ClockSkewMinutes(int64_t now, const std::string& serviceTime);

// The list is emptied and refilled with the pieces between commas; the piece after the last
// comma counts only when it is not empty. Callers split only non-empty answers.
void SplitAnswer(const std::string& text, std::vector<std::string>& list);

// A value as it goes into the query: the bytes that would cut or forge parameters
// ("&", "#", "%", "+", "=", "?", blank), control bytes and the backslash (which WinINet would
// turn into "/", in file paths and in the trail byte of GBK characters alike) become %XX;
// everything else, GBK text included, stays as raw bytes.
std::string EscapeQueryValue(const std::string& value);
