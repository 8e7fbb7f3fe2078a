#include "sources/listing_import.h"

#include "market/data_version.h"
#include "market/master_rules.h"
#include "sources/listing_file.h"
#include "common/terminal_text.h"

#include <set>
#include <stdexcept>

void ImportListing(const std::filesystem::path& file, const std::filesystem::path& dataFolder, std::ostream& report)
{
    const std::vector<TListingRow> rows = ReadListingFile(file);
    TMasterCounts counts;
    std::vector<TStock> stocks;
    std::set<std::string> codes;
    int repeated = 0;
    for (const TListingRow& row : rows)
    {
        std::optional<TStock> stock = MasterEntryFromListing(row, counts);
        if (!stock)
            continue;
        // The first row of a code holds; a later one would make the master unreadable.
        if (!codes.insert(stock->Code).second)
        {
            ++repeated;
            continue;
        }
        stocks.push_back(std::move(*stock));
    }
    // An empty result would wipe the master: a file of another kind, not an empty market.
    if (stocks.empty())
        throw std::runtime_error(file.string() + ": " + std::to_string(rows.size()) +
                                 " 行に上場銘柄が一つもありません");

    // Against the folder's own master of real data; a sample master is replaced whole.
    std::vector<TStock> before;
    if (IsRealDataFolder(dataFolder) && std::filesystem::exists(dataFolder / "stocks.csv"))
        before = ParseStockMaster(ReadDataFile(dataFolder / "stocks.csv"));
    const TMasterChanges changes = CompareMasters(before, stocks);
    WriteRealMaster(dataFolder, stocks, "listing " + file.filename().string());

    report << TerminalText("上場銘柄一覧 " + file.string()) << ": " << rows.size() << " 行、配信する銘柄 "
           << stocks.size() << '\n'
           << "  追加 " << changes.Added << "、変更 " << changes.Changed << "、削除 " << changes.Dropped
           << "、変更なし " << changes.Unchanged << '\n'
           << "  除外 " << counts.ProMarket + counts.Skipped + repeated << " (PRO Market " << counts.ProMarket
           << "、ほかの市場や知らない業種・コード " << counts.Skipped << "、重複したコード " << repeated << ")\n"
           << "  配信するが KabuList.dat にない銘柄 (5 文字のコード): " << counts.NotListed << '\n'
           << TerminalText("書き込み先: " + dataFolder.string()) << " (実データ)\n";
}
