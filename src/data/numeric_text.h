#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Every number read from a page or a label passes through ExtractNumeric, then one of
// the conversions below; a text that does not convert throws TDataError.

//! The digits, ".", "-" and "+" of `text`, in order, each byte tested by itself;
//! "0" when no digit is among them ("1,234" -> "1234", "(-0.57%)" -> "-0.57", "--5" -> "--5").
std::string ExtractNumeric(std::string_view text);

//! An optional sign and decimal digits, within the signed 32-bit range (prices); throws
//! TDataError otherwise.
std::int32_t StrToInt32(std::string_view text);

//! The same within the signed 64-bit range (volumes, which pass 2^31 shares a week).
std::int64_t StrToInt64(std::string_view text);

//! An optional sign, digits and at most one ".", as a fixed-point value (x 10,000),
//! rounded to 4 decimals halves away from zero; throws TDataError when it does not read.
std::int64_t StrToFixedPoint(std::string_view text);
