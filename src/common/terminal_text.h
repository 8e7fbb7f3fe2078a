#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What the program and the service print for a person or a log: messages that carry outside
// text (names from pages and files, codes, paths, a client's request) must stay one harmless
// line on a terminal or in a cron log. Each byte that could steer a terminal or split the line
// is written as \xHH, and so is the backslash, so that no outside text can fake an escape.

//! `text` with every C0 control, DEL, backslash and, after UTF-8 decoding, every C1 control
//! (U+0080 to U+009F) written as \xHH; a bidirectional control (U+061C, U+200E, U+200F,
//! U+202A to U+202E, U+2066 to U+2069) and a byte that is not part of valid UTF-8 are written
//! so byte by byte. Everything else, Japanese text included, is kept as it is.
std::string TerminalText(std::string_view text);

//! The first `maxBytes` bytes of `text` as one field of a log line: every byte outside
//! printable ASCII, and the backslash, written as \xHH, then "...(N bytes)" with the full
//! length when the text was longer.
std::string TerminalField(std::string_view text, std::size_t maxBytes);
