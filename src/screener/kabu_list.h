#pragma once

#include "common/market_names.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

// One selected line of the stock list. An entry whose market is not known is empty:
// no code, no suffix, but it keeps its place and is counted.
struct TKabuListEntry
{
    std::string CodeText;    // field 1 exactly as read, blanks included
    std::string Suffix;      // the market's KeySuffix (MarketNames); empty for an empty entry
    std::string SecondField; // field 2 exactly as read, never interpreted
    std::string MarketName;  // the market's Shown name, what column 2 of a result row shows
    bool Empty = false;
};

constexpr std::size_t MaxKabuListEntries = 5000;

struct TKabuList
{
    std::vector<TKabuListEntry> Entries; // file order
    // More lines were selected than the list holds; reading stopped at the limit, and the
    // caller must say so rather than let a partial screen pass for the whole sector.
    bool Truncated = false;
};

//! The sector selector's items in their order, as shown (UTF-8): "全て", which selects every
//! line, then the 34 SectorNames, compared with the list's sector field in Shift_JIS.
inline constexpr std::array<std::string_view, SectorNames.size() + 1> SectorSelectorItems = [] {
    std::array<std::string_view, SectorNames.size() + 1> items{"全て"};
    for (std::size_t i = 0; i < SectorNames.size(); ++i)
        items[i + 1] = SectorNames[i].Name;
    return items;
}();

//! "全て" in Shift_JIS: the selector text that selects every line.
constexpr std::string_view AllSectorsText = "\x91\x53\x82\xc4";

//! Reads the list from the file's bytes: lines end at CR (an LF right after it belongs to the
//! line end), Ctrl-Z ends the file, ";" lines are comments, the sector (everything after the
//! third comma) is compared byte for byte with `sector` unless it is AllSectorsText.
TKabuList ParseKabuList(std::string_view bytes, std::string_view sector);

//! Reads "KabuList.dat" in the current folder. Throws std::runtime_error when it cannot be read.
TKabuList ReadKabuList(std::string_view sector, const std::string& fileName = "KabuList.dat");
