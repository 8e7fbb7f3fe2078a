#pragma once

#include <array>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The stock master of the service (stocks.csv, UTF-8): code, name, market, sector per line,
// "#" comment lines. KabuList.dat, the program's Shift_JIS stock list, is made from it.

//! One listed stock; the texts are UTF-8.
struct TStock
{
    std::string Code; // 4 or 5 digits
    std::string Name;
    std::string Market;
    std::string Sector;
};

//! A stock master line that cannot be used; what() names the line.
class TMasterError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

//! The eleven market names of the stock list, UTF-8, with the key suffix each gives.
struct TMarketName
{
    std::string_view Name;
    std::string_view Suffix;
};
const std::array<TMarketName, 11>& MarketNames();

//! The 34 sector names of the stock list, UTF-8, in the order the program lists them.
const std::array<std::string_view, 34>& SectorNames();

//! The key suffix of a market name (".t" ...); empty when the name is not a market's.
std::string_view MarketSuffix(std::string_view market);

//! Reads and checks the master: codes of 4 or 5 digits without repeats, names that the
//! pages (EUC-JP, JIS X 0208 only) and the list (Shift_JIS) can carry, without control
//! characters, known markets and sectors. Throws TMasterError naming the line.
std::vector<TStock> ParseStockMaster(std::string_view text);

//! One master line, "code,name,market,sector" without line end.
std::string StockMasterLine(const TStock& stock);

//! KabuList.dat for the stocks: Shift_JIS, CR LF line ends, a ";" comment header, one line
//! "code,name,market,sector" per stock in master order.
std::string KabuListBytes(const std::vector<TStock>& stocks);

//! The whole of a data-folder file; throws std::runtime_error naming it when it cannot be read.
std::string ReadDataFile(const std::filesystem::path& path);
