#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

// The one iconv wrapper of the program and the service. Pages are EUC-JP, the stock list and
// the program's literals CP932 (Shift_JIS), shown text and the service's files UTF-8. The
// service writes only what converts whole and refuses the rest; the program shows whatever
// came, with a mark where a byte did not convert.

enum class TTextEncoding
{
    Utf8,
    Cp932, // Shift_JIS as Windows writes it (code page 932)
    EucJp,
};

//! Text that does not convert: bytes that are not of the source encoding, or a character the
//! target encoding lacks. Also thrown, by both policies, when iconv lacks the conversion.
class TConvertError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

//! `text` converted from `from` to `to`. Throws TConvertError naming the text and the target
//! when any of it does not convert.
std::string ConvertText(std::string_view text, TTextEncoding from, TTextEncoding to);

//! The same, where each unit that does not convert becomes `substitute` and the rest goes on:
//! a unit is a byte, or with `from` UTF-8 a character (a lead byte and its continuation bytes).
std::string ConvertText(std::string_view text, TTextEncoding from, TTextEncoding to, std::string_view substitute);
