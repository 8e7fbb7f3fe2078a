#pragma once

#include <array>
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
    std::string MarketName;  // UTF-8, what column 2 of a result row shows: "東証" for "東証１部"
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
//! line, then the 34 sector names, compared with the list's sector field in Shift_JIS.
constexpr std::array<std::string_view, 35> SectorSelectorItems = {
    "全て",         "水産･農林業", "鉱業",       "建設業",     "食料品",       "繊維製品",   "パルプ・紙",
    "化学",         "医薬品",      "石油石炭製品", "ゴム製品",   "ｶﾞﾗｽ土石製品", "鉄鋼",       "非鉄金属",
    "金属製品",     "機械",        "電気機器",   "輸送用機器", "精密機器",     "その他製品", "卸売業",
    "小売業",       "銀行業",      "証券商品先物", "保険業",     "その他金融業", "不動産業",   "陸運業",
    "海運業",       "空運業",      "倉庫運輸関連", "通信業",     "電気･ガス業",  "サービス業", "投信"};

//! "全て" in Shift_JIS: the selector text that selects every line.
constexpr std::string_view AllSectorsText = "\x91\x53\x82\xc4";

//! Reads the list from the file's bytes: lines end at CR (an LF right after it belongs to the
//! line end), Ctrl-Z ends the file, ";" lines are comments, the sector (everything after the
//! third comma) is compared byte for byte with `sector` unless it is AllSectorsText.
TKabuList ParseKabuList(std::string_view bytes, std::string_view sector);

//! Reads "KabuList.dat" in the current folder. Throws std::runtime_error when it cannot be read.
TKabuList ReadKabuList(std::string_view sector, const std::string& fileName = "KabuList.dat");

//! Market suffix of a market field (an old name or one of today's), or an empty text when the
//! market is not in the table.
std::string_view MarketSuffixOf(std::string_view market);
