#pragma once

#include <string>
#include <string_view>

// Conversions at the display boundary, the program's policy of the common iconv wrapper
// (ConvertText). The program keeps pages, list lines and literals as Shift_JIS (code page 932)
// bytes; only shown text becomes Unicode.

//! CP932 bytes to UTF-8. A byte sequence that is not CP932 becomes U+FFFD, one per bad byte.
std::string Cp932ToUtf8(std::string_view bytes);

//! UTF-8 to CP932 bytes. A character without a CP932 form becomes "?".
std::string Utf8ToCp932(std::string_view text);
