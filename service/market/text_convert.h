#pragma once

#include "common/japanese_text.h"

#include <string>
#include <string_view>
#include <vector>

// The service writes pages and lists only of text that converts whole (ConvertText): what a
// page or the list cannot carry is refused, never written as something else.

//! UTF-8 to EUC-JP, the encoding of the pages. Throws TConvertError on a character EUC-JP lacks.
std::string Utf8ToEucJp(std::string_view text);

//! UTF-8 to Shift_JIS (code page 932), the encoding of KabuList.dat. Throws TConvertError.
std::string Utf8ToShiftJis(std::string_view text);

//! True when the EUC-JP text holds only ASCII and two-byte JIS X 0208 characters, the only
//! ones the program's title conversion turns into Shift_JIS (no half-width kana, no JIS X 0212).
bool IsPlainEucJp(std::string_view euc);

//! The lines of a data file: a UTF-8 byte order mark dropped, lines split at LF with a CR
//! before it dropped, no empty line after a final LF. Line n of the file is element n - 1.
std::vector<std::string_view> TextLines(std::string_view text);
