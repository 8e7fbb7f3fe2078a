#include "price_import.h"

#include "price_history.h"
#include "stock_master.h"

#include "market/data_version.h"

#include "common/temp_file.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

std::vector<TStock> ReadMaster(const std::filesystem::path& path)
{
    try {
        return ParseStockMaster(ReadDataFile(path));
    } catch (const TMasterError& error) {
        throw std::runtime_error(path.string() + ": " + error.what());
    }
}

//! The master file again: its leading comment lines, then one line per stock.
std::string MasterText(const std::string& oldText, const std::vector<TStock>& stocks)
{
    std::string text;
    std::istringstream lines(oldText);
    std::string line;
    while (std::getline(lines, line) && !line.empty() && line.front() == '#')
        text += line + '\n';
    for (const TStock& stock : stocks)
        text += StockMasterLine(stock) + '\n';
    return text;
}

//! The folder's list; a folder of real data says so in its header, not that it is the sample.
std::string ListBytes(const std::filesystem::path& dataDir, const std::vector<TStock>& stocks)
{
    return IsRealDataFolder(dataDir) ? KabuListBytes(stocks, "the stock list of real data") : KabuListBytes(stocks);
}

} // namespace

void WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes)
{
    TTempFile temp(path);
    temp.Write(bytes);
    temp.Commit();
}

void MakeKabuList(const std::filesystem::path& dataDir)
{
    WriteFileAtomically(dataDir / "KabuList.dat", ListBytes(dataDir, ReadMaster(dataDir / "stocks.csv")));
}

int ImportPriceFolder(const std::filesystem::path& from, const std::filesystem::path& dataDir,
                      std::ostream& report)
{
    const std::filesystem::path masterPath = dataDir / "stocks.csv";
    const std::string masterText = ReadDataFile(masterPath);
    std::vector<TStock> stocks = ReadMaster(masterPath);

    int refused = 0;
    const std::filesystem::path extra = from / "stocks.csv";
    if (std::filesystem::exists(extra)) {
        try {
            for (TStock& stock : ParseStockMaster(ReadDataFile(extra))) {
                const auto known = std::find_if(stocks.begin(), stocks.end(),
                                                [&](const TStock& s) { return s.Code == stock.Code; });
                report << stock.Code << ": " << (known == stocks.end() ? "added to" : "updated in")
                       << " the stock master\n";
                if (known == stocks.end())
                    stocks.push_back(std::move(stock));
                else
                    *known = std::move(stock);
            }
            WriteFileAtomically(masterPath, MasterText(masterText, stocks));
        } catch (const std::exception& error) {
            report << extra.string() << ": " << error.what() << "; no stock added\n";
            ++refused;
        }
    }

    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(from))
        if (entry.is_regular_file() && entry.path().extension() == ".csv" && entry.path().filename() != "stocks.csv")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());

    std::filesystem::create_directories(dataDir / "prices");
    for (const std::filesystem::path& file : files) {
        const std::string stem = file.stem().string();
        const std::string code = stem.substr(0, stem.find('.'));
        const auto stock = std::find_if(stocks.begin(), stocks.end(), [&](const TStock& s) { return s.Code == code; });
        if (stock == stocks.end()) {
            report << file.string() << ": no stock " << code
                   << " in the master; add its line (code,name,market,sector) to a stocks.csv in the folder\n";
            ++refused;
            continue;
        }
        try {
            const TPriceBars bars = ParsePriceCsv(ReadDataFile(file));
            WriteFileAtomically(dataDir / "prices" / (code + ".csv"), PriceCsvText(bars));
            report << code << ": " << bars.size() << " days, " << FormatDate(bars.front().Date) << " to "
                   << FormatDate(bars.back().Date) << '\n';
        } catch (const std::exception& error) {
            report << file.string() << ": " << error.what() << "; not imported\n";
            ++refused;
        }
    }
    WriteFileAtomically(dataDir / "KabuList.dat", ListBytes(dataDir, stocks));
    // A serving process picks the import up without a restart.
    BumpDataVersion(dataDir);
    return refused;
}
