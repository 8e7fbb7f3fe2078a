#include "data/page_scan.h"

namespace {

bool IsAsciiCapital(unsigned char c)
{
    return c >= 'A' && c <= 'Z';
}

bool IsShiftJisLead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc);
}

bool IsShiftJisTrail(unsigned char c)
{
    return (c >= 0x40 && c <= 0x7e) || (c >= 0x80 && c <= 0xfc);
}

} // namespace

std::string_view ByteWindow(std::string_view text, std::int64_t position, std::size_t size)
{
    const std::int64_t first = position < 1 ? 0 : position - 1;
    if (static_cast<std::uint64_t>(first) >= text.size())
        return {};
    return text.substr(static_cast<std::size_t>(first), size);
}

std::int64_t FindOffset(std::string_view window, std::string_view marker)
{
    const std::size_t at = window.find(marker);
    return at == std::string_view::npos ? 0 : static_cast<std::int64_t>(at) + 1;
}

std::string LowerAscii(std::string_view bytes)
{
    std::string lowered(bytes);
    for (char& c : lowered)
        if (IsAsciiCapital(static_cast<unsigned char>(c)))
            c = static_cast<char>(c + ('a' - 'A'));
    return lowered;
}

std::string LowerAsciiShiftJis(std::string_view bytes)
{
    std::string lowered(bytes);
    for (std::size_t i = 0; i < lowered.size(); ++i)
    {
        const auto c = static_cast<unsigned char>(lowered[i]);
        if (IsShiftJisLead(c) && i + 1 < lowered.size() &&
            IsShiftJisTrail(static_cast<unsigned char>(lowered[i + 1])))
            ++i; // the pair stays whole
        else if (IsAsciiCapital(c))
            lowered[i] = static_cast<char>(c + ('a' - 'A'));
    }
    return lowered;
}

std::string_view TrimControls(std::string_view text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 0x20)
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 0x20)
        --last;
    return text.substr(first, last - first);
}
