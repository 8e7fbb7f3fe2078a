#include "listing_import.h"

#include "data_version.h"
#include "master_rules.h"
#include "sources/listing_file.h"

#include <set>
#include <stdexcept>

void ImportListing(const std::filesystem::path& file, const std::filesystem::path& dataFolder, std::ostream& report)
{
    const std::vector<TListingRow> rows = ReadListingFile(file);
    TMasterCounts counts;
    std::vector<TStock> stocks;
    std::set<std::string> codes;
    int repeated = 0;
    for (const TListingRow& row : rows) {
        std::optional<TStock> stock = MasterEntryFromListing(row, counts);
        if (!stock)
            continue;
        // The first row of a code holds; a later one would make the master unreadable.
        if (!codes.insert(stock->Code).second) {
            ++repeated;
            continue;
        }
        stocks.push_back(std::move(*stock));
    }
    // An empty result would wipe the master: a file of another kind, not an empty market.
    if (stocks.empty())
        throw std::runtime_error(file.string() + ": no listed stock in " + std::to_string(rows.size()) + " rows");

    // Against the folder's own master of real data; a sample master is replaced whole.
    std::vector<TStock> before;
    if (IsRealDataFolder(dataFolder) && std::filesystem::exists(dataFolder / "stocks.csv"))
        before = ParseStockMaster(ReadDataFile(dataFolder / "stocks.csv"));
    const TMasterChanges changes = CompareMasters(before, stocks);
    WriteRealMaster(dataFolder, stocks, "listing " + file.filename().string());

    report << "listing " << file.string() << ": " << rows.size() << " rows, " << stocks.size() << " stocks served\n"
           << "  added " << changes.Added << ", changed " << changes.Changed << ", dropped " << changes.Dropped
           << ", unchanged " << changes.Unchanged << '\n'
           << "  skipped " << counts.ProMarket + counts.Skipped + repeated << " (PRO Market " << counts.ProMarket
           << ", other markets or unknown sectors and codes " << counts.Skipped << ", repeated codes " << repeated
           << ")\n"
           << "  served but not in KabuList.dat (5-character codes): " << counts.NotListed << '\n'
           << "written to " << dataFolder.string() << " (real data)\n";
}
