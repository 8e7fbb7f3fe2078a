#pragma once

#include <string>
#include <string_view>

// What the service prints for a person: messages that carry outside text (names and fields of
// imported files, codes, paths) must stay one harmless line on a terminal or in a cron log.

//! `text` with every C0 control, DEL, backslash and, after UTF-8 decoding, every C1 control
//! (U+0080 to U+009F) written as \xHH; a byte that is not part of valid UTF-8 is written so
//! too. Everything else, Japanese text included, is kept as it is.
std::string TerminalText(std::string_view text);
