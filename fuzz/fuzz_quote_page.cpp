// Quote page scraper on any bytes. A short input is also tried padded with blanks to the
// smallest accepted page size, so the tag walk sees small inputs too.
#include "data/data_error.h"
#include "data/quote_page.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void Check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

void Scrape(std::string_view page)
{
    for (const std::string_view key : {"7751.t", "130A.t"}) // the seeds' codes
    {
        try
        {
            if (const auto quote = ParseQuotePage(page, key, {}))
            {
                KabuBoardTexts(*quote);
                Check(quote->KabuNo == key.substr(0, 4));
                Check(quote->Tani >= FixedPointOne && quote->Tani <= 100000 * FixedPointOne);
            }
        }
        catch (const TDataError&)
        {
            // a figure that does not convert: the program's data-error box
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Scrape(bytes);
    if (size < MinQuotePageSize)
    {
        std::string padded(bytes);
        padded.resize(MinQuotePageSize, ' ');
        Scrape(padded);
    }
    return 0;
}
