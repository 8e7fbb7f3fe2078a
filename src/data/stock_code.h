#pragma once

#include <string>
#include <string_view>

// Stock codes of today's form: four characters, the 1st and 3rd a digit, the 2nd and 4th a
// digit or one of the 19 letters the exchange uses (never B, E, I, O, Q, V or Z, which read
// like digits). Numeric codes keep their own rules; these helpers are about the letters.

//! Whether `code` has today's form and holds at least one letter; letters in either case.
bool IsLetterCode(std::string_view code);

//! `code` with its ASCII letters in upper case, every other byte unchanged.
std::string UpperCaseCode(std::string_view code);

//! Whether two codes are the same when ASCII letters are compared without regard to case.
bool SameCode(std::string_view a, std::string_view b);

//! The code of a stock key: its bytes up to the first "." or blank ("25935.t" → "25935",
//! "130A  " → "130A"); the whole key when it has neither.
std::string_view KeyCode(std::string_view key);
