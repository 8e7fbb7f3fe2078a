// The data API's answers on any bytes: a page of daily bars, a page of the master, an error's
// message, and the rule on where the key may go. An answer they cannot use gives nothing; every
// kept row must be one the bar store can hold.
#include "sources/jquants_client.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const std::optional<TBarsPage> page = ParseBarsPage(bytes)) {
        for (const TBarRow& row : page->Rows) {
            if (!IsSourceCode(row.Code) || row.Day.AdjFactor.empty() || row.Day.AdjFactor.size() > 255 ||
                (row.Day.Traded && (row.Day.High < row.Day.Low || row.Day.Low <= 0)))
                std::abort();
        }
    }
    ParseMasterPage(bytes);
    if (ErrorMessageOf(bytes).size() > 204)
        std::abort();
    KeyTravelsSafelyTo(std::string(bytes));
    return 0;
}
