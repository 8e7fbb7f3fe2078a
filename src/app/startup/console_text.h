#pragma once

#include <QString>

//! `text` as it may go to a terminal or a log: C0 controls, DEL and the C1 controls U+0080 to
//! U+009F become "\xHH" (their code point), so a name from a page can neither move the cursor,
//! retitle the terminal nor start a forged line; everything else, Japanese included, stays.
QString PrintableText(const QString& text);
