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

//! Whether the UTF-8 sequence at `index` of `length` bytes is a bidirectional control (U+061C,
//! U+200E/U+200F, U+202A to U+202E, U+2066 to U+2069): shown raw, it reorders the rest of the
//! line, so a name could make a message read as something it does not say.
bool IsBidiControl(std::string_view text, std::size_t index, std::size_t length)
{
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[index + at]); };
    if (length == 2)
        return byte(0) == 0xd8 && byte(1) == 0x9c;
    if (length != 3 || byte(0) != 0xe2)
        return false;
    const unsigned last = byte(2);
    if (byte(1) == 0x80)
        return last == 0x8e || last == 0x8f || (last >= 0xaa && last <= 0xae);
    return byte(1) == 0x81 && last >= 0xa6 && last <= 0xa9;
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
        else if (IsBidiControl(text, index, length))
        {
            for (std::size_t i = 0; i < length; ++i)
                AppendEscaped(shown, static_cast<unsigned char>(text[index + i]));
            index += length;
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
