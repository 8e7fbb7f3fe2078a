#include "analysis/average_rsi.h"

#include "common/exact_format.h"

#include <cstdlib>

namespace {

const TChartRec& Bar(const TChartBars& bars, int index)
{
    return bars[static_cast<std::size_t>(index)];
}

} // namespace

TAverageParams AverageParams(TAverageInstance instance)
{
    switch (instance)
    {
    case TAverageInstance::ShortWeek:
        return {7, &TChartRec::AvgShortWeek, &TChartRec::RsiShortWeek, true};
    case TAverageInstance::LongWeek:
        return {13, &TChartRec::AvgLongWeek, &TChartRec::RsiLongWeek, false};
    case TAverageInstance::ShortDay:
        return {7, &TChartRec::AvgShortDay, &TChartRec::RsiShortDay, true};
    case TAverageInstance::LongDay:
        return {25, &TChartRec::AvgLongDay, &TChartRec::RsiLongDay, false};
    }
    return {};
}

std::int32_t WindowAverage(const TChartBars& bars, int end, int period)
{
    std::int64_t sum = 0;
    for (int k = end - period + 1; k <= end; ++k)
        if (!Bar(bars, k).DateText.empty())
            sum += Bar(bars, k).ClosePrice;
    // A mean of 32-bit closes stays in 32 bits.
    return static_cast<std::int32_t>(RoundRatio(sum, period, 0));
}

std::int32_t WindowRsi(const TChartBars& bars, int end, int period)
{
    // Seeds of 1 and -1 keep both divisors below away from zero.
    std::int64_t gain = 1;
    std::int64_t loss = -1;
    for (int k = end - period + 1; k <= end; ++k)
    {
        if (k < 1 || Bar(bars, k - 1).DateText.empty())
            continue;
        const std::int64_t change =
            static_cast<std::int64_t>(Bar(bars, k).ClosePrice) - Bar(bars, k - 1).ClosePrice;
        if (change >= 0)
            gain += change;
        else
            loss += change;
    }
    const std::int64_t g = gain * 10000 / period;
    const std::int64_t l = std::llabs(loss * 100 / period);
    const std::int64_t t = g / l;
    return static_cast<std::int32_t>(t * 100 / (t + 100));
}

std::int32_t CalcAverageRsi(TChartBars& bars, TAverageInstance instance)
{
    const TAverageParams params = AverageParams(instance);
    const int filled = FilledBarCount(bars);
    if (filled < params.Period)
        return 0;
    for (int end = params.Period - 1; end < filled; ++end)
    {
        TChartRec& bar = bars[static_cast<std::size_t>(end)];
        bar.*params.AverageField = WindowAverage(bars, end, params.Period);
        bar.*params.RsiField = WindowRsi(bars, end, params.Period);
    }
    return Bar(bars, filled - 1).*params.AverageField;
}
