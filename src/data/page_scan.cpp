#include "data/page_scan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

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
    // Eight bytes at a time, a whole page per read: a byte's high bit in `capital` is set
    // when it lies in 'A'..'Z', and shifted down it is the 0x20 that lowers it.
    constexpr std::uint64_t Ones = 0x0101010101010101u;
    constexpr std::uint64_t HighBits = 0x8080808080808080u;
    std::size_t at = 0;
    for (; at + 8 <= lowered.size(); at += 8)
    {
        std::uint64_t word = 0;
        std::memcpy(&word, lowered.data() + at, 8);
        const std::uint64_t low7 = word & ~HighBits;
        const std::uint64_t fromA = low7 + (0x80 - 'A') * Ones;
        const std::uint64_t pastZ = low7 + (0x80 - 'Z' - 1) * Ones;
        const std::uint64_t capital = (fromA ^ pastZ) & ~word & HighBits;
        word |= capital >> 2;
        std::memcpy(lowered.data() + at, &word, 8);
    }
    for (; at < lowered.size(); ++at)
        if (IsAsciiCapital(static_cast<unsigned char>(lowered[at])))
            lowered[at] = static_cast<char>(lowered[at] + ('a' - 'A'));
    return lowered;
}

std::string LowerAsciiShiftJis(std::string_view bytes)
{
    TLoweredWindow window(bytes);
    return window.Prefix(bytes.size());
}

void TLoweredWindow::LowerTo(std::size_t size)
{
    // A byte's lowering depends only on the bytes before it (where pairs start) and the next
    // raw byte, so the part lowered so far never changes.
    const std::size_t end = std::min(size, Raw.size());
    std::size_t i = Lowered.size();
    Lowered.reserve(end + 1);
    while (i < end)
    {
        const auto c = static_cast<unsigned char>(Raw[i]);
        if (IsShiftJisLead(c) && i + 1 < Raw.size() &&
            IsShiftJisTrail(static_cast<unsigned char>(Raw[i + 1])))
        {
            Lowered += Raw.substr(i, 2); // the pair stays whole
            i += 2;
        }
        else
        {
            Lowered += IsAsciiCapital(c) ? static_cast<char>(c + ('a' - 'A')) : static_cast<char>(c);
            ++i;
        }
    }
}

std::int64_t TLoweredWindow::Find(std::string_view marker)
{
    std::size_t searched = 0; // no match starts before this
    std::size_t step = 128;
    while (true)
    {
        LowerTo(Lowered.size() + step);
        const std::size_t at = std::string_view(Lowered).find(marker, searched);
        if (at != std::string_view::npos)
            return static_cast<std::int64_t>(at) + 1;
        if (Lowered.size() >= Raw.size())
            return 0;
        searched = Lowered.size() >= marker.size() ? Lowered.size() - marker.size() + 1 : 0;
        step *= 2;
    }
}

std::string TLoweredWindow::Prefix(std::size_t size)
{
    LowerTo(size);
    return Lowered.substr(0, std::min(size, Lowered.size()));
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
