#include "market/market.h"

#include "market/adjusted_days.h"
#include "market/data_version.h"
#include "market/bar_store.h"
#include "market/market_db.h"

#include <algorithm>
#include <cassert>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

namespace {

bool IsDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

//! The number a stock's made-up history is drawn from: a numeric code itself, so the sample
//! pages stay as they were; a letter code in base 36, above every numeric code.
int SyntheticSeed(std::string_view code)
{
    if (IsDigits(code))
        return std::stoi(std::string(code));
    int seed = 0;
    for (const char c : code)
        seed = seed * 36 + (c <= '9' ? c - '0' : c - 'A' + 10);
    return 100000 + seed;
}

//! The imported daily prices of the master's stocks: per code, the CSV of the topmost layer that
//! has one. A file that cannot be read is reported with `fallback`, what is served instead.
std::map<std::string, TPriceBars> ReadPriceFiles(const std::vector<std::filesystem::path>& layers,
                                                 const std::vector<TStock>& stocks, const std::string& fallback,
                                                 std::vector<std::string>& warnings)
{
    std::error_code ignored;
    std::map<std::string, std::filesystem::path> csvFiles; // by code, the topmost layer's
    for (const std::filesystem::path& layer : layers)
    {
        const std::filesystem::path prices = layer / "prices";
        if (!std::filesystem::is_directory(prices, ignored))
            continue;
        for (const auto& entry : std::filesystem::directory_iterator(prices))
            if (entry.path().extension() == ".csv")
                csvFiles[entry.path().stem().string()] = entry.path();
    }

    std::set<std::string_view> codes;
    for (const TStock& stock : stocks)
        codes.insert(stock.Code);
    std::map<std::string, TPriceBars> csvBars;
    for (const auto& [code, file] : csvFiles)
    {
        if (codes.count(code) == 0)
        {
            warnings.push_back(file.string() + ": 銘柄マスターに " + code + " がないため読みません");
            continue;
        }
        try
        {
            csvBars[code] = ParsePriceCsv(ReadDataFile(file));
        }
        catch (const std::exception& error)
        {
            warnings.push_back(file.string() + ": " + error.what() + "。" + fallback);
        }
    }
    return csvBars;
}

} // namespace

// One read-only connection shared by the request threads, one query at a time: a page reads a
// few hundred rows along the primary key, far less than serving them takes.
class TDbDays
{
public:
    TDbDays(const std::filesystem::path& folder, bool rawPrices, TDate today)
        : Db(folder, TMarketDb::TMode::ReadOnly), RawPrices(rawPrices), Today(today)
    {}

    TMarketDb& Open() { return Db; }

    //! The days from `first` on, adjusted with every later factor (all of them are read).
    TPriceBars From(const std::string& code, TDate first)
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        return Served(Db.DaysFrom(code, first, Today, Skips)).Days;
    }

    //! The newest days, enough of them for `traded` days with trades.
    TPriceBars Newest(const std::string& code, std::size_t traded)
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        return Served(Db.NewestDays(code, traded, Today, Skips)).Days;
    }

    TRawDays Raw(const std::string& code)
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        return Db.DaysOf(code, Today, Skips);
    }

    std::vector<TDate> Splits(const std::string& code)
    {
        if (!RawPrices)
            return {};
        const std::lock_guard<std::mutex> lock(Mutex);
        return Served(Db.DaysOf(code, Today, Skips)).Splits;
    }

    bool HasDays(const std::string& code)
    {
        const std::lock_guard<std::mutex> lock(Mutex);
        const auto known = Known.find(code);
        if (known != Known.end())
            return known->second;
        return Known[code] = Db.HasDays(code);
    }

private:
    TServedDays Served(const TRawDays& days)
    {
        int badFactors = 0;
        return AdjustedDays(days, RawPrices, badFactors);
    }

    std::mutex Mutex;
    TMarketDb Db;
    bool RawPrices;
    TDate Today;
    TDbSkips Skips;
    std::unordered_map<std::string, bool> Known; // bounded by the master's codes
};

TMarket::TMarket(std::vector<TStock> stocks, std::map<std::string, TPriceBars> csvBars)
    : Stocks_(std::move(stocks)), CsvBars_(std::move(csvBars))
{
    Index_.reserve(Stocks_.size());
    for (std::size_t i = 0; i < Stocks_.size(); ++i)
        Index_.emplace(Stocks_[i].Code, i);
}

TMarket TMarket::FromRawDays(std::vector<TStock> stocks, const std::map<std::string, TRawDays>& days, bool rawPrices,
                             std::vector<std::string>& warnings, std::map<std::string, TPriceBars> imported)
{
    std::map<std::string, TPriceBars> served;
    std::map<std::string, std::vector<TDate>> splits;
    int badFactors = 0;
    int unknown = 0; // stocks with days but not in the master
    for (const TStock& stock : stocks)
    {
        const auto stored = days.find(stock.Code);
        if (stored == days.end() || stored->second.empty())
            continue;
        TServedDays adjusted = AdjustedDays(stored->second, rawPrices, badFactors);
        served.emplace(stock.Code, std::move(adjusted.Days));
        if (rawPrices && !adjusted.Splits.empty())
            splits.emplace(stock.Code, std::move(adjusted.Splits));
    }
    for (const auto& entry : days)
        if (served.count(entry.first) == 0 && !entry.second.empty())
            ++unknown;
    for (auto& [code, bars] : imported)
        if (!bars.empty())
            served.emplace(code, std::move(bars)); // only where no stored day came
    if (badFactors > 0)
        warnings.push_back("調整係数 " + std::to_string(badFactors) + " 件を当てはめられませんでした");
    if (unknown > 0)
        warnings.push_back("日足を保存した銘柄のうち " + std::to_string(unknown) +
                           " 銘柄は銘柄マスターにないため配信しません");
    TMarket market(std::move(stocks), std::move(served));
    market.Real_ = true;
    market.Splits_ = std::move(splits);
    return market;
}

TMarket TMarket::FromDb(const std::filesystem::path& folder, bool rawPrices, std::vector<std::string>& warnings,
                        TDate today)
{
    auto days = std::make_shared<TDbDays>(folder, rawPrices, today);
    TDbSkips skips;
    std::vector<TStock> stocks;
    for (TDbStock& stock : days->Open().Stocks(skips))
        stocks.push_back(std::move(stock.Stock));
    for (std::string& warning : SkipWarnings(days->Open().File(), skips))
        warnings.push_back(std::move(warning));
    TMarket market(std::move(stocks), {});
    market.Real_ = true;
    market.Db_ = std::move(days);
    return market;
}

bool TMarket::HasCsv(std::string_view code) const
{
    if (Db_)
        return Find(code) != nullptr && Db_->HasDays(std::string(code));
    return CsvBars_.count(std::string(code)) > 0;
}

std::vector<TDate> TMarket::Splits(const TStock& stock) const
{
    if (Db_)
        return Db_->Splits(stock.Code);
    const auto found = Splits_.find(stock.Code);
    return found == Splits_.end() ? std::vector<TDate>{} : found->second;
}

TRawDays TMarket::RawDays(const TStock& stock) const
{
    return Db_ ? Db_->Raw(stock.Code) : TRawDays{};
}

TMarket TMarket::Load(const std::filesystem::path& dataDir, std::vector<std::string>& warnings)
{
    return Load(std::vector<std::filesystem::path>{dataDir}, warnings);
}

TMarket TMarket::Load(const std::vector<std::filesystem::path>& layers, std::vector<std::string>& warnings,
                      bool rawPrices)
{
    assert(!layers.empty());
    std::error_code ignored;
    // Real data is never mixed with the sample below it nor with made-up history.
    const std::filesystem::path& top = layers.back();
    if (IsRealDataFolder(top) && TMarketDb::ExistsIn(top))
        return FromDb(top, rawPrices, warnings, LocalToday());
    if (IsRealDataFolder(top))
    {
        const std::filesystem::path masterPath = top / "stocks.csv";
        std::vector<TStock> stocks;
        try
        {
            stocks = ParseStockMaster(ReadDataFile(masterPath));
        }
        catch (const TMasterError& error)
        {
            throw std::runtime_error(masterPath.string() + ": " + error.what());
        }
        const std::map<std::string, TRawDays> days = LoadRawDays(top, warnings);
        // Prices the user imported stand for the stocks the fetch brought nothing for.
        std::map<std::string, TPriceBars> imported = ReadPriceFiles({top}, stocks, "配信しません", warnings);
        return FromRawDays(std::move(stocks), days, rawPrices, warnings, std::move(imported));
    }
    std::filesystem::path masterPath = layers.front() / "stocks.csv";
    for (const std::filesystem::path& layer : layers)
        if (std::filesystem::exists(layer / "stocks.csv", ignored))
            masterPath = layer / "stocks.csv";
    std::vector<TStock> stocks;
    try
    {
        stocks = ParseStockMaster(ReadDataFile(masterPath));
    }
    catch (const TMasterError& error)
    {
        throw std::runtime_error(masterPath.string() + ": " + error.what());
    }

    return TMarket(stocks, ReadPriceFiles(layers, stocks, "作った値段を配信します", warnings));
}

const TStock* TMarket::Find(std::string_view code) const
{
    const auto found = Index_.find(std::string(code));
    return found == Index_.end() ? nullptr : &Stocks_[found->second];
}

TPriceBars TMarket::Days(const TStock& stock, TDate first, TDate last, TDate today) const
{
    if (Db_)
    {
        TPriceBars days = Db_->From(stock.Code, first);
        std::erase_if(days, [&](const TPriceBar& day) { return day.Date > last; });
        return days;
    }
    const auto csv = CsvBars_.find(stock.Code);
    if (csv != CsvBars_.end())
    {
        TPriceBars days;
        for (const TPriceBar& day : csv->second)
            if (day.Date >= first && day.Date <= last)
                days.push_back(day);
        return days;
    }
    if (Real_)
        return {};
    const TDate end = std::min(last, today);
    if (end < first)
        return {};
    return SyntheticBars(SyntheticSeed(stock.Code), first, end);
}

TPriceBars TMarket::QuoteDays(const TStock& stock, TDate today) const
{
    if (Db_)
        return Db_->Newest(stock.Code, QuoteTradedDays);
    const auto csv = CsvBars_.find(stock.Code);
    if (csv != CsvBars_.end())
        return csv->second;
    if (Real_)
        return {};
    return SyntheticBars(SyntheticSeed(stock.Code), AddDays(today, -21), today);
}

TPriceBars HistoryBars(const TMarket& market, const TStock& stock, bool weekly, TDate first, TDate last, TDate today)
{
    // The range is honoured day by day: a week cut by the start date holds only its days in range.
    const TPriceBars traded = TradedBarsInRange(market.Days(stock, first, last, today), first, last);
    return weekly ? WeeklyBars(traded) : traded;
}

TPriceBars WholeHistory(const TMarket& market, const TStock& stock, TDate today)
{
    constexpr TDate earliest{1900, 1, 1};
    return TradedBarsInRange(market.Days(stock, earliest, today, today), earliest, today);
}
