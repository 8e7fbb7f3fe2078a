#include "data/euc_to_sjis.h"

#include <algorithm>

std::string EucToSjisChar(std::uint8_t lead, std::uint8_t trail)
{
    if (lead < 0xa1 || lead > 0xfe)
        return {};
    unsigned newTrail = 0;
    if (lead % 2 == 1)
        newTrail = trail < 0xe0 ? trail - 0x61u : trail - 0x60u;
    else
        newTrail = trail - 2u;
    const unsigned newLead = lead < 0xdf ? (lead + 0x61u) / 2 : (lead + 0xe1u) / 2;
    return {static_cast<char>(newLead & 0xffu), static_cast<char>(newTrail & 0xffu)};
}

void EucToSjisText(std::string& text, std::size_t first, std::size_t limit,
                   const TProcessEvents& processEvents)
{
    const std::size_t end = first >= text.size() ? first : std::min(text.size(), first + limit);
    std::size_t index = first;
    while (index < end)
    {
        if (processEvents)
            processEvents();
        const auto lead = static_cast<std::uint8_t>(text[index]);
        if (lead == 0x02 || index + 1 >= text.size())
        {
            ++index;
            continue;
        }
        const std::string converted =
            EucToSjisChar(lead, static_cast<std::uint8_t>(text[index + 1]));
        if (converted.empty())
        {
            ++index;
            continue;
        }
        text[index] = converted[0];
        text[index + 1] = converted[1];
        index += 2;
    }
}
