#pragma once

#include <QString>

//! `text` as it may go to a terminal or a log, escaped as TerminalText escapes its UTF-8: C0
//! controls, DEL, the backslash and the C1 controls U+0080 to U+009F become "\xHH" (their code
//! point), bidirectional controls "\xHH" per UTF-8 byte, so a name from a page can neither move
//! the cursor, retitle the terminal, start a forged line, reorder it nor fake an escape;
//! everything else, Japanese included, stays.
QString PrintableText(const QString& text);
