#include "sources/terminal_text.h"

#include <gtest/gtest.h>

TEST(TerminalText, EscapesControlsAndKeepsJapanese)
{
    struct Row
    {
        const char* name;
        std::string text;
        std::string shown;
    };
    const Row rows[] = {
        {"Japanese kept", "\xe3\x83\x88\xe3\x83\xa8\xe3\x82\xbf 7203", "\xe3\x83\x88\xe3\x83\xa8\xe3\x82\xbf 7203"},
        {"an escape sequence retitling the terminal", "\x1b]0;x\x07", "\\x1b]0;x\\x07"},
        {"a line feed forging a line", "a\nfake: line", "a\\x0afake: line"},
        {"NUL, CR, tab and DEL", std::string("\0\r\t\x7f", 4), "\\x00\\x0d\\x09\\x7f"},
        {"C1 controls as UTF-8",
         "\xc2\x9b"
         "2J\xc2\x80\xc2\x9f",
         "\\x9b2J\\x80\\x9f"},
        {"the first character past C1 kept", "\xc2\xa0\xc3\xa9", "\xc2\xa0\xc3\xa9"},
        {"bytes that are not UTF-8", "\xff\x9b\xe3\x83", "\\xff\\x9b\\xe3\\x83"},
        {"an overlong form of ESC", "\xc0\x9b", "\\xc0\\x9b"},
        {"a backslash cannot fake an escape", "\\x1b", "\\x5cx1b"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(TerminalText(row.text), row.shown);
    }
}
