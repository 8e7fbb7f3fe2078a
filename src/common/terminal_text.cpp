#include "common/terminal_text.h"

#include <cstdio>

namespace {

void AppendEscaped(std::string& shown, unsigned value)
{
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", value & 0xffu);
    shown += escaped;
}

//! The length of the valid UTF-8 sequence at `index` (1 to 4), or 0 when it is not one.
std::size_t SequenceLength(std::string_view text, std::size_t index)
{
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned lead = byte(index);
    std::size_t length = 0;
    unsigned minimum = 0;
    if (lead >= 0xc2 && lead <= 0xdf)
    {
        length = 2;
        minimum = 0x80;
    }
    else if (lead >= 0xe0 && lead <= 0xef)
    {
        length = 3;
        minimum = 0x800;
    }
    else if (lead >= 0xf0 && lead <= 0xf4)
    {
        length = 4;
        minimum = 0x10000;
    }
    else
    {
        return 0;
    }
    if (index + length > text.size())
        return 0;
    unsigned code = lead & (0x7fu >> length);
    for (std::size_t i = 1; i < length; ++i)
    {
        if ((byte(index + i) & 0xc0u) != 0x80u)
            return 0;
        code = (code << 6) | (byte(index + i) & 0x3fu);
    }
    if (code < minimum || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return 0;
    return length;
}

} // namespace

std::string TerminalText(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    std::size_t index = 0;
    while (index < text.size())
    {
        const auto byte = static_cast<unsigned char>(text[index]);
        if (byte < 0x80)
        {
            if (byte < 0x20 || byte == 0x7f || byte == '\\')
                AppendEscaped(shown, byte);
            else
                shown += static_cast<char>(byte);
            ++index;
            continue;
        }
        const std::size_t length = SequenceLength(text, index);
        if (length == 0)
        {
            AppendEscaped(shown, byte);
            ++index;
        }
        else if (length == 2 && byte == 0xc2 && static_cast<unsigned char>(text[index + 1]) < 0xa0)
        {
            AppendEscaped(shown, static_cast<unsigned char>(text[index + 1])); // U+0080..U+009F
            index += 2;
        }
        else
        {
            shown.append(text.substr(index, length));
            index += length;
        }
    }
    return shown;
}

std::string TerminalField(std::string_view text, std::size_t maxBytes)
{
    std::string shown;
    for (const char c : text.substr(0, maxBytes))
    {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f || c == '\\')
            AppendEscaped(shown, byte);
        else
            shown += c;
    }
    if (text.size() > maxBytes)
        shown += "...(" + std::to_string(text.size()) + " bytes)";
    return shown;
}
