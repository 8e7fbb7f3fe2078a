// Quote page scraper on any bytes. A short input is also tried padded with blanks to the
// smallest accepted page size, so the tag walk sees small inputs too.
#include "data/data_error.h"
#include "data/quote_page.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void Scrape(std::string_view page)
{
    try
    {
        if (const auto quote = ParseQuotePage(page, "7751.t", {})) // the seeds' code
            KabuBoardTexts(*quote);
    }
    catch (const TDataError&)
    {
        // a figure that does not convert: the program's data-error box
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
