// The listed-issues reader on any bytes, as a CSV and as an .xlsx archive, and the mapping
// of its rows to master entries. A file it cannot use is refused with its own error.
#include "market/master_rules.h"
#include "sources/listing_file.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (auto* read : {&ListingRowsFromCsv, &ListingRowsFromXlsx}) {
        try {
            TMasterCounts counts;
            for (const TListingRow& row : read(bytes))
                if (const auto stock = MasterEntryFromListing(row, counts))
                    ParseStockMaster(StockMasterLine(*stock)); // every entry is one the master takes
        } catch (const TListingError&) {
        }
    }
    return 0;
}
