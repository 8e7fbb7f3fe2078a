#pragma once

#include <string>
#include <string_view>
#include <vector>

// One selected line of the stock list. An entry whose market is not known is empty:
// no code, no suffix, but it keeps its place and is counted.
struct TKabuListEntry
{
    std::string CodeText;    // field 1 exactly as read, blanks included
    std::string Suffix;      // ".t", ".o", ".q", ".s", ".f", ".m", ".n", ".h"; empty for an empty entry
    std::string SecondField; // field 2 exactly as read, never interpreted
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

//! "全て" in Shift_JIS: the selector text that selects every line.
constexpr std::string_view AllSectorsText = "\x91\x53\x82\xc4";

//! Reads the list from the file's bytes: lines end at CR (an LF right after it belongs to the
//! line end), Ctrl-Z ends the file, ";" lines are comments, the sector (everything after the
//! third comma) is compared byte for byte with `sector` unless it is AllSectorsText.
TKabuList ParseKabuList(std::string_view bytes, std::string_view sector);

//! Reads "KabuList.dat" in the current folder. Throws std::runtime_error when it cannot be read.
TKabuList ReadKabuList(std::string_view sector, const std::string& fileName = "KabuList.dat");

//! Market suffix of a market field, or an empty text when the market is not in the table.
std::string_view MarketSuffixOf(std::string_view market);
