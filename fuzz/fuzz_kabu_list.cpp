// The stock list reader on any bytes, under every sector selection (and any other selector
// text), followed by what a screening run does with each entry before it fetches anything.
#include "data/data_error.h"
#include "data/text_codec.h"
#include "screener/kabu_list.h"
#include "screener/screening.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

const std::vector<std::string>& Sectors()
{
    static const std::vector<std::string> sectors = [] {
        std::vector<std::string> shiftJis;
        for (const std::string_view item : SectorSelectorItems)
            shiftJis.push_back(Utf8ToCp932(item));
        return shiftJis;
    }();
    return sectors;
}

void Check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider provider(data, size);
    const std::size_t pick = provider.ConsumeIntegralInRange<std::size_t>(0, Sectors().size());
    const std::string sector =
        pick < Sectors().size() ? Sectors()[pick] : provider.ConsumeRandomLengthString(40);
    const std::string bytes = provider.ConsumeRemainingBytesAsString();

    const TKabuList list = ParseKabuList(bytes, sector);
    Check(list.Entries.size() <= MaxKabuListEntries);
    Check(!list.Truncated || list.Entries.size() == MaxKabuListEntries);
    for (const TKabuListEntry& entry : list.Entries)
    {
        Check(entry.Empty == entry.Suffix.empty());
        Check(entry.Empty == entry.MarketName.empty());
        Check(entry.CodeText.find('\r') == std::string::npos && entry.CodeText.find('\x1a') == std::string::npos);
        try
        {
            const TEntryCode code = EntryCode(entry.CodeText);
            if (!code.Code.empty())
            {
                const std::string key = ScreeningKey(code.Code, entry.Suffix);
                Check(key.size() == code.Code.size() + 2 || entry.Suffix.empty());
                Check(code.Code.size() == (code.Number == 67585 ? 5u : 4u));
                Check(KeySuffixOfMarketName(entry.MarketName).has_value()); // a listed row can be opened
            }
        }
        catch (const TDataError&)
        {
            // a code of neither form ends the run with the data-error box
        }
    }
    return 0;
}
