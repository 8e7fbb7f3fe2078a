#pragma once

#include "market/stock_master.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How the exchange's own records of listed issues become stock master entries: the data
// API's master records and the rows of the listed-issues file, mapped to the list's market
// and sector names, with codes and names made fit for the pages and the list.

//! One record of the data API's /equities/master, its fields as given (UTF-8).
struct TApiMasterRecord
{
    std::string Code;   // 5 characters: the code and a class digit, "72030", "130A0", "25935"
    std::string CoName;
    std::string S33;    // the 33-sector code, "0050" ... "9050", "9999" for funds and the like
    std::string Mkt;    // the market code, "0111" プライム ...
};

//! One row of the listed-issues file, its cells as text (UTF-8); a numeric cell as its
//! integer ("1301", "50").
struct TListingRow
{
    std::string Date;
    std::string Code;
    std::string Name;
    std::string MarketText; // 市場・商品区分
    std::string S33Code;    // 33業種コード, "50" or "-"
    std::string S33Name;    // 33業種区分

    bool operator==(const TListingRow&) const = default;
};

//! What a mapping made of the records it was given.
struct TMasterCounts
{
    int Served = 0;     // entries made
    int NotListed = 0;  // of those, 5-character codes: served, but left out of KabuList.dat
    int ProMarket = 0;  // TOKYO PRO MARKET issues, skipped
    int Skipped = 0;    // other records skipped: investment securities, unknown markets or
                        // sectors, codes of no known form

    bool operator==(const TMasterCounts&) const = default;
};

//! The entry of an API master record, or nothing (counted) when it is not served.
std::optional<TStock> MasterEntryFromApi(const TApiMasterRecord& record, TMasterCounts& counts);

//! The entry of a listed-issues row, or nothing (counted) when it is not served.
std::optional<TStock> MasterEntryFromListing(const TListingRow& row, TMasterCounts& counts);

//! The served code of a source code: upper-cased, the class digit 0 dropped ("72030" →
//! "7203", "130a0" → "130A", "25935" stays); nothing when it is no stock code.
std::optional<std::string> MasterCodeOf(std::string_view sourceCode);

//! The sector name of a 33-sector code ("0050", or "50" as the listing writes it); empty
//! when there is none.
std::string_view SectorOfS33(std::string_view s33);

//! A company name made fit for the pages and the list, never refused: characters EUC-JP or
//! CP932 cannot carry become their well-known JIS X 0208 form (髙 → 高, 﨑 → 崎, half-width
//! kana → full-width) or 〓; < > & , become full-width and " becomes ”; control characters
//! become blanks; cut at MaxNameCharacters. An empty name becomes the code.
std::string CleanName(std::string_view name, std::string_view code);

//! What a new master changes against the old one, by code.
struct TMasterChanges
{
    int Added = 0;
    int Changed = 0;
    int Dropped = 0;
    int Unchanged = 0;
};
TMasterChanges CompareMasters(const std::vector<TStock>& oldStocks, const std::vector<TStock>& newStocks);

//! Writes a folder's master of real data: stocks.csv and KabuList.dat in SortedByCode order and
//! the real-data marker naming `source`, each through a temp file and rename, then a new
//! data-version. The stocks
//! are checked as stocks.csv is before anything is written; throws TMasterError (nothing
//! written) or std::system_error.
void WriteRealMaster(const std::filesystem::path& dataFolder, const std::vector<TStock>& stocks,
                     std::string_view source);
