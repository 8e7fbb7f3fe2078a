#include "market/store_migration.h"

#include "market/bar_store.h"
#include "market/market_db.h"
#include "market/own_file.h"
#include "market/price_history.h"
#include "market/stock_master.h"

#include <set>
#include <stdexcept>

namespace {

constexpr std::size_t MaxMasterBytes = std::size_t{64} << 20;
constexpr std::size_t MaxPriceFileBytes = std::size_t{64} << 20;
constexpr const char* ConvertedSuffix = ".migrated";

//! The imported days as the store keeps days: hundredths of a yen, factor 1.
TRawDays RawDaysOf(const TPriceBars& bars)
{
    TRawDays days;
    days.reserve(bars.size());
    for (const TPriceBar& bar : bars)
    {
        TRawDay day{bar.Date};
        if (bar.Volume > 0)
            day = {bar.Date, true, bar.Open * 100, bar.High * 100, bar.Low * 100, bar.Close * 100, bar.Volume, 0, "1"};
        days.push_back(std::move(day));
    }
    return days;
}

//! The first of "<name>.migrated", "<name>.migrated-2", … that is free.
std::filesystem::path FreeName(const std::filesystem::path& path)
{
    std::filesystem::path target = path.string() + ConvertedSuffix;
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(target)); ++n)
        target = path.string() + ConvertedSuffix + "-" + std::to_string(n);
    return target;
}

std::vector<TDbStock> ReadMaster(const std::filesystem::path& folder,
                                 const std::map<std::string, std::string>& sourceCodes)
{
    const std::filesystem::path file = folder / "stocks.csv";
    std::string problem;
    const std::optional<std::string> text = ReadOwnFile(file, MaxMasterBytes, problem);
    if (!text)
    {
        if (problem.empty())
            return {};
        throw std::runtime_error(file.string() + ": " + problem);
    }
    std::vector<TDbStock> stocks;
    for (TStock& stock : ParseStockMaster(*text))
    {
        const auto source = sourceCodes.find(stock.Code);
        stocks.push_back({std::move(stock), source == sourceCodes.end() ? std::string() : source->second});
    }
    return stocks;
}

} // namespace

bool NeedsConversion(const std::filesystem::path& folder)
{
    const auto present = [&](const char* name) {
        return std::filesystem::exists(std::filesystem::symlink_status(folder / name));
    };
    return present("bars") || present("prices") || (present("stocks.csv") && present(RealDataFileName));
}

TConversion ConvertChunkStore(const std::filesystem::path& folder, TDate today)
{
    TConversion result;
    if (!NeedsConversion(folder))
        return result;
    TMarketDb db(folder, TMarketDb::TMode::Write);
    if (!db.Converted())
    {
        std::map<std::string, std::string> sourceCodes;
        std::map<std::string, TRawDays> days = LoadRawDays(folder, result.Warnings, &sourceCodes);
        for (auto& [code, stockDays] : days)
            std::erase_if(stockDays, [&](const TRawDay& day) { return day.Date > today; });
        const std::vector<TBarRequest> requests = TBarStore(folder, TBarStore::TMode::ReadOnly).Requests();
        const std::vector<TDbStock> stocks = ReadMaster(folder, sourceCodes);

        std::set<std::string> listed;
        for (const TDbStock& stock : stocks)
            listed.insert(stock.Stock.Code);
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder / "prices", error), end; !error && it != end;
             it.increment(error))
        {
            const std::filesystem::path& file = it->path();
            const std::string code = file.stem().string();
            if (file.extension() != ".csv" || !listed.count(code))
            {
                result.Warnings.push_back(file.string() + ": 銘柄マスターにない銘柄の日足なので使いません");
                continue;
            }
            if (days.count(code) && !days[code].empty())
            {
                result.Warnings.push_back(file.string() + ": 取得した日足がある銘柄なので使いません (" + "prices" +
                                          ConvertedSuffix + " に残します)");
                continue;
            }
            std::string problem;
            const std::optional<std::string> text = ReadOwnFile(file, MaxPriceFileBytes, problem);
            if (!text)
            {
                result.Warnings.push_back(file.string() + ": " + problem);
                continue;
            }
            try
            {
                days[code] = RawDaysOf(ParsePriceCsv(*text, today));
                result.ImportedDays += static_cast<long long>(days[code].size());
            }
            catch (const TCsvError& csvError)
            {
                result.Warnings.push_back(file.string() + ": " + csvError.what());
            }
        }

        db.WriteConverted(stocks, days, requests);
        result.Converted = true;
        result.Stocks = static_cast<long long>(stocks.size());
        result.Requests = static_cast<long long>(requests.size());
        for (const auto& [code, stockDays] : days)
            result.Days += static_cast<long long>(stockDays.size());
    }
    // Renamed only once the database holds it all: a kill before leaves the files as they were.
    for (const char* name : {"bars", "prices", "stocks.csv"})
    {
        const std::filesystem::path old = folder / name;
        if (std::filesystem::exists(std::filesystem::symlink_status(old)))
            std::filesystem::rename(old, FreeName(old));
    }
    return result;
}
