#pragma once

#include "common/market_names.h"

#include <filesystem>
#include <stdexcept>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The stock master of the service (stocks.csv, UTF-8): code, name, market, sector per line,
// "#" comment lines. KabuList.dat, the program's Shift_JIS stock list, is made from it.

//! One listed stock; the texts are UTF-8.
struct TStock
{
    std::string Code; // 4 characters of a stock code's form, or those and a class digit
    std::string Name;
    std::string Market;
    std::string Sector;

    bool operator==(const TStock&) const = default;
};

//! A stock master line that cannot be used; what() names the line.
class TMasterError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

//! Names longer than this many characters garble the board and swell the pages.
constexpr std::size_t MaxNameCharacters = 60;

//! True for a stock code: 4 characters, the 1st and 3rd a digit, the 2nd and 4th a digit or
//! one of the letters the exchange uses (A C D F G H J K L M N P R S T U W X Y), optionally
//! followed by a class digit ("7203", "130A", "25935").
bool IsStockCode(std::string_view code);

//! The number of characters of UTF-8 text (bytes that do not continue a sequence).
std::size_t Utf8Characters(std::string_view text);

//! Reads and checks the master: stock codes without repeats, names of at most
//! MaxNameCharacters that the pages (EUC-JP, JIS X 0208 only) and the list (Shift_JIS) can
//! carry, without control characters, markets of MarketNames and sectors of SectorNames.
//! Throws TMasterError naming the line.
std::vector<TStock> ParseStockMaster(std::string_view text);

//! What makes a stock of well-formed code unfit to serve (its name, market or sector), in words;
//! nothing when it is fit.
std::optional<std::string> StockProblem(const TStock& stock);

//! One master line, "code,name,market,sector" without line end.
std::string StockMasterLine(const TStock& stock);

//! KabuList.dat for the stocks: Shift_JIS, CR LF line ends, a ";" comment header, one line
//! "code,name,market,sector" per stock in master order. Codes of 5 characters are left out
//! (a screening run ends at a code above 9999), all but 67585, which the run accepts.
//! `origin` is the header's first line after "; KabuList.dat: ".
std::string KabuListBytes(const std::vector<TStock>& stocks,
                          std::string_view origin = "the stock list of the Orvanta sample market");

//! `stocks` in the byte order of their codes (1309 < 130A < 1310; 2593 < 25935 < 2594), the
//! order of every list made from a master: a run over 全て goes through the codes in order.
std::vector<TStock> SortedByCode(std::vector<TStock> stocks);

//! True when KabuListBytes lists the stock.
bool InKabuList(const TStock& stock);

//! The whole of a data-folder file; throws std::runtime_error naming it when it cannot be read.
std::string ReadDataFile(const std::filesystem::path& path);
