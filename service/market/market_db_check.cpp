#include "market/market_db_check.h"

#include "market/market_db.h"

#include <algorithm>

namespace {

// Enough to find the rows again with a query of one's own; the count says how many there are.
constexpr std::size_t ListedProblems = 10;
constexpr int QuickCheckLines = 10;

void AddTable(TDbCheck& check, const char* table, long long rows, long long skipped,
              const std::vector<std::string>& reasons)
{
    check.Lines.push_back(std::string("表 ") + table + ": " + std::to_string(rows) + " 行、うち形が合わない行 " +
                          std::to_string(skipped));
    for (const std::string& reason : reasons)
        check.Lines.push_back("  " + reason);
    if (skipped > static_cast<long long>(reasons.size()))
        check.Lines.push_back("  ほか " + std::to_string(skipped - static_cast<long long>(reasons.size())) + " 行");
}

} // namespace

TDbCheck CheckMarketDb(const std::filesystem::path& folder, TDate today)
{
    TDbCheck check;
    if (!TMarketDb::ExistsIn(folder))
    {
        check.Lines.push_back((folder / MarketDbFileName).string() + ": ありません");
        return check;
    }
    TMarketDb db(folder, TMarketDb::TMode::ReadOnly);
    check.Lines.push_back(db.File().string());
    bool damaged = false;
    try
    {
        TStatement quickCheck(db.Db(), ("PRAGMA quick_check(" + std::to_string(QuickCheckLines) + ")").c_str());
        std::vector<std::string> found;
        while (quickCheck.Step())
            found.push_back(quickCheck.Text(0));
        damaged = found != std::vector<std::string>{"ok"};
        check.Lines.push_back(std::string("quick_check: ") + (damaged ? "損傷があります" : "ok"));
        // SQLite puts a line break inside some of its findings.
        for (std::size_t i = 0; damaged && i < found.size(); ++i)
            for (std::size_t start = 0; start <= found[i].size();)
            {
                const std::size_t end = std::min(found[i].find('\n', start), found[i].size());
                check.Lines.push_back("  " + found[i].substr(start, end - start));
                start = end + 1;
            }

        TDbSkips skips;
        skips.Listed = ListedProblems;
        const long long stocks = static_cast<long long>(db.Stocks(skips).size()) + skips.Stocks;
        const long long bars = db.ScanDays(today, skips);
        AddTable(check, "stocks", stocks, skips.Stocks, skips.StockReasons);
        AddTable(check, "daily_bars", bars, skips.Bars, skips.BarReasons);
        check.Sound = !damaged && skips.Stocks == 0 && skips.Bars == 0;
    }
    catch (const TDbError& error)
    {
        // Damage the quick check did not reach stops the scan where it lies.
        check.Lines.push_back(std::string("読めません: ") + error.what());
        check.Sound = false;
    }
    check.Lines.push_back(check.Sound ? "問題はありません" : "問題があります");
    return check;
}
