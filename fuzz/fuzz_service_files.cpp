// The service's readers of user files on any bytes: the daily price CSV and the stock master.
// A file they cannot use is refused with their own error; anything else is a fault.
#include "market/price_history.h"
#include "market/stock_master.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try
    {
        const TPriceBars days = ParsePriceCsv(bytes);
        WeeklyBars(TradedBarsInRange(days, days.front().Date, days.back().Date));
        PriceCsvText(days);
    }
    catch (const TCsvError&)
    {
    }
    try
    {
        KabuListBytes(ParseStockMaster(bytes));
    }
    catch (const TMasterError&)
    {
    }
    return 0;
}
