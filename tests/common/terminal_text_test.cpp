#include "common/terminal_text.h"

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
        // Bidirectional controls reached the terminal raw and reordered the rest of the line.
        {"right-to-left override and pop",
         "a\xe2\x80\xae"
         "b\xe2\x80\xac",
         "a\\xe2\\x80\\xaeb\\xe2\\x80\\xac"},
        {"embeddings and left-to-right override", "\xe2\x80\xaa\xe2\x80\xab\xe2\x80\xad",
         "\\xe2\\x80\\xaa\\xe2\\x80\\xab\\xe2\\x80\\xad"},
        {"isolates", "\xe2\x81\xa6\xe2\x81\xa7\xe2\x81\xa8\xe2\x81\xa9",
         "\\xe2\\x81\\xa6\\xe2\\x81\\xa7\\xe2\\x81\\xa8\\xe2\\x81\\xa9"},
        {"marks", "\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c", "\\xe2\\x80\\x8e\\xe2\\x80\\x8f\\xd8\\x9c"},
        {"neighbours of the controls kept", "\xe2\x80\x8d\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa\xd8\x9b",
         "\xe2\x80\x8d\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa\xd8\x9b"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(TerminalText(row.text), row.shown);
    }
}

TEST(TerminalField, KeepsOnlyPrintableAsciiAndCutsAtTheLimit)
{
    struct Row
    {
        const char* name;
        std::string text;
        std::size_t maxBytes;
        std::string shown;
    };
    const Row rows[] = {
        {"printable ASCII kept", "GET /a?b=c", 20, "GET /a?b=c"},
        {"Japanese written byte by byte", "\xe6\xa0\xaa", 20, "\\xe6\\xa0\\xaa"},
        {"controls and the backslash", "a\r\n\\", 20, "a\\x0d\\x0a\\x5c"},
        {"exactly the limit is not cut", "abcd", 4, "abcd"},
        {"one byte over is cut and the length noted", "abcde", 4, "abcd...(5 bytes)"},
        {"a cut through a character", "\xe6\xa0\xaa", 2, "\\xe6\\xa0...(3 bytes)"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(TerminalField(row.text, row.maxBytes), row.shown);
    }
}
