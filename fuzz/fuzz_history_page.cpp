// History page scraper on any bytes, the copy into the bar table, and the volume pane's scale
// and the read-out over it, where volumes now take the whole 64-bit range. A short input is
// also tried padded with blanks past the smallest parsed page size, so the row loop sees it,
// and repeated past the page buffer, so the cut at 50,001 bytes is crossed.
#include "analysis/chart_bars.h"
#include "chart/chart_readout.h"
#include "chart/pane_scale.h"
#include "data/data_error.h"
#include "data/history_page.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void Scrape(std::string_view page, std::int64_t kabuKa)
{
    HistoryPageNamesOtherStock(page, "7751.t");
    HistoryPageNamesOtherStock(page, "130A  ");
    try
    {
        TChartBars bars{};
        CopyHistoryRows(ParseHistoryPage(page, kabuKa, {}), bars);
        const TPaneScale volume = ComputeVolumeScale(bars, ChartImageWidth, DekidakaImageHeight);
        for (int p = 0; p < DrawnBarCount(bars); ++p)
        {
            const std::int64_t v = RoundRatio(bars[static_cast<std::size_t>(p)].Dekidaka, 1000, 0);
            UnitsDy(volume, volume.Range - (v - volume.MinValue));
            ChartReadout(bars, volume, PeriodLeftX(volume, p) + 1, TChartLength::Weekly);
        }
    }
    catch (const TDataError&)
    {
        // a cell that does not convert: the program's data-error box
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The current price seeds the first row's "-" cells; a quote's price fits 32 bits.
    const std::int64_t kabuKa = size > 0 ? static_cast<std::int64_t>(data[0]) * 123457 * 10000 : 0;
    Scrape(bytes, kabuKa);
    if (size < MinHistoryPageSize)
    {
        std::string padded(bytes);
        padded.resize(MinHistoryPageSize, ' ');
        Scrape(padded, kabuKa);
    }
    if (size > 0 && size < HistoryPageBuffer && (data[size - 1] & 1) != 0)
    {
        std::string repeated;
        while (repeated.size() <= HistoryPageBuffer)
            repeated += bytes;
        Scrape(repeated, kabuKa);
    }
    return 0;
}
