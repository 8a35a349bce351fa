#pragma once
// Text as the logs hold it and as the window shows it. The event log renders UTF-16 and IIS
// writes its W3C logs in UTF-8, while the program shows ANSI (GBK) text. A record is read as
// UTF-8, so no byte of a name can become markup or a separator; only the values taken out of it
// are converted, each on its own.
#include <cstddef>
#include <functional>
#include <string>

// One value from UTF-8 to the program's ANSI text (Win32: no best-fit mapping, '?' for what the
// code page lacks). A text that is not UTF-8 is handed back as it is (a log written in the ANSI
// code page). Empty: values stay UTF-8.
using TextConverter = std::function<std::string(const std::string& utf8)>;

// Lossless UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* text, size_t length);
// Appends one code point as UTF-8; a surrogate or one beyond U+10FFFF appends U+FFFD.
void AppendUtf8(std::string& out, unsigned long code);
// text cut to at most bound bytes without splitting a UTF-8 sequence (bytes that are not UTF-8
// are cut at the bound).
std::string CutUtf8(const std::string& text, size_t bound);
// text cut to at most bound bytes without leaving a GBK lead byte without its trail.
std::string CutAnsi(const std::string& text, size_t bound);
// The converted value within bound bytes, or the UTF-8 one cut when there is no converter.
std::string ConvertedValue(const std::string& utf8, size_t bound, const TextConverter& toAnsi);
