#include "chart/pane_scale.h"

#include "data/data_error.h"

#include <algorithm>
#include <limits>

namespace {

// Pixel results leave int range only for nonsense prices; Qt clips what is off the image.
int ClampPixel(std::int64_t pixel)
{
    constexpr std::int64_t Limit = 1 << 24;
    return static_cast<int>(std::clamp<std::int64_t>(pixel, -Limit, Limit));
}

const TChartRec& Bar(const TChartBars& bars, int index)
{
    return bars[static_cast<std::size_t>(index)];
}

} // namespace

std::int64_t RoundFixed(std::int64_t scaled)
{
    return RoundRatio(scaled, FixedUnit, 0);
}

TPaneScale ComputePriceScale(const TChartBars& bars, int imageWidth, int imageHeight, TDecimal kabuKa)
{
    TPaneScale scale;
    scale.Left = 40;
    scale.Top = 10;
    scale.Right = imageWidth - 10;
    scale.Bottom = imageHeight - 20;
    scale.FirstIndex = 0;
    scale.LastIndex = 1;
    // Record 0 seeds the range even when unused, so an empty table keeps the last stock's range.
    scale.MinValue = Bar(bars, 0).LowPrice;
    scale.MaxValue = Bar(bars, 0).HighPrice;
    for (int k = 0; k < MaxChartBars; ++k)
    {
        const TChartRec& bar = Bar(bars, k);
        if (bar.DateText.empty())
            continue;
        if (bar.LowPrice <= scale.MinValue)
            scale.MinValue = bar.LowPrice;
        if (bar.HighPrice >= scale.MaxValue)
            scale.MaxValue = bar.HighPrice;
        scale.LastIndex = k + 1;
    }
    if (scale.MaxValue == 0)
    {
        const std::int64_t ten = 10 * Pow10(kabuKa.Scale);
        scale.MaxValue = RoundScaled({(kabuKa.Scaled + ten) * 2, kabuKa.Scale}, 0);
    }
    if (scale.MaxValue == scale.MinValue)
    {
        scale.MinValue = 0;
        scale.MaxValue *= 2;
    }
    scale.Range = scale.MaxValue - scale.MinValue;
    if (scale.Range == 0)
        throw TDataError("株価チャートに値の範囲がありません (現在値 -10)");
    scale.StepX = RoundRatio(scale.Right - scale.Left, scale.LastIndex - scale.FirstIndex, 5);
    scale.ScaleY = RoundRatio(scale.Bottom - scale.Top, scale.Range, 5);
    scale.HalfStep =
        scale.StepX >= 2 * FixedUnit ? static_cast<int>(RoundRatio(scale.StepX, 2 * FixedUnit, 0)) : 0;
    return scale;
}

TPaneScale ComputeRsiScale(int lastIndex, int imageWidth, int imageHeight)
{
    TPaneScale scale;
    scale.Left = 40;
    scale.Top = 1;
    scale.Right = imageWidth - 10;
    scale.Bottom = imageHeight - 2;
    scale.FirstIndex = 0;
    scale.LastIndex = std::max(lastIndex, 1);
    scale.MinValue = 0;
    scale.MaxValue = 100;
    scale.Range = 100;
    scale.StepX = RoundRatio(scale.Right - scale.Left, scale.LastIndex, 5);
    scale.ScaleY = RoundRatio(scale.Bottom - scale.Top, 100, 5);
    return scale;
}

TPaneScale ComputeVolumeScale(const TChartBars& bars, int imageWidth, int imageHeight)
{
    TPaneScale scale;
    scale.Left = 40;
    scale.Top = 20;
    scale.Right = imageWidth - 10;
    scale.Bottom = imageHeight - 10;
    scale.FirstIndex = 0;
    scale.LastIndex = 0;
    std::int64_t minShares = Bar(bars, 0).Dekidaka;
    std::int64_t maxShares = Bar(bars, 0).Dekidaka;
    for (int p = 1; p <= MaxChartBars; ++p)
    {
        const TChartRec& bar = Bar(bars, p - 1);
        if (bar.DateText.empty())
            continue;
        if (bar.Dekidaka <= minShares)
            minShares = bar.Dekidaka;
        if (bar.Dekidaka >= maxShares)
            maxShares = bar.Dekidaka;
        scale.LastIndex = p;
    }
    scale.MinValue = RoundRatio(minShares, 1000, 0);
    scale.MaxValue = RoundRatio(maxShares, 1000, 0);
    scale.Range = scale.MaxValue - scale.MinValue;
    // No period in use: no column width; the pane shows its title and frame only.
    scale.StepX = scale.LastIndex > scale.FirstIndex
                      ? RoundRatio(scale.Right - scale.Left, scale.LastIndex - scale.FirstIndex, 5)
                      : 0;
    scale.ScaleY = scale.Range >= 1 ? RoundRatio(scale.Bottom - scale.Top, scale.Range, 5) : 100 * FixedUnit;
    constexpr std::int64_t Reach32 = 2147484; // round(2^31 / 1000): 32-bit volumes stay within it
    if (scale.Range >= 1 && (scale.MaxValue > Reach32 || scale.MinValue < -Reach32))
    {
        scale.ScaleY = scale.Bottom - scale.Top;
        scale.ScaleUnit = scale.Range;
    }
    return scale;
}

int PeriodLeftX(const TPaneScale& scale, int index)
{
    return ClampPixel(scale.Left + RoundFixed(index * scale.StepX));
}

int PeriodX(const TPaneScale& scale, int index)
{
    return ClampPixel(scale.Left + RoundFixed(index * scale.StepX + scale.HalfStep * FixedUnit));
}

int UnitsDy(const TPaneScale& scale, std::int64_t units)
{
    // Real scales reach 195 pixels a unit (a price range of 1 yen), far below ScaleLimit: the
    // limits only keep a corrupt value's product inside 64 bits and never cap a real scale.
    constexpr std::int64_t UnitLimit = std::int64_t{1} << 36;
    constexpr std::int64_t ScaleLimit = std::int64_t{1} << 26;
    return ClampPixel(RoundRatio(std::clamp(units, -UnitLimit, UnitLimit) *
                                     std::clamp(scale.ScaleY, -ScaleLimit, ScaleLimit),
                                 scale.ScaleUnit, 0));
}

int ValueDy(const TPaneScale& scale, std::int64_t value)
{
    return UnitsDy(scale, scale.Range - (value - scale.MinValue));
}

int ValueY(const TPaneScale& scale, std::int64_t value)
{
    return ClampPixel(std::int64_t{scale.Top} + ValueDy(scale, value));
}

int PeriodUnderPointer(const TPaneScale& scale, int x)
{
    if (scale.StepX == 0)
        return 0;
    // (x - Left + StepX / 2) / StepX, kept exact by doubling both sides.
    const std::int64_t num = 2 * (std::int64_t{x} - scale.Left) * FixedUnit + scale.StepX;
    const std::int64_t period = RoundRatio(num, 2 * scale.StepX, 0);
    return static_cast<int>(std::clamp<std::int64_t>(period, -1, MaxChartBars + 1));
}

std::int64_t PriceGridStep(std::int64_t maxValue)
{
    if (maxValue >= 100000)
        return maxValue / 100 * 5;
    if (maxValue >= 10000)
        return 1000;
    if (maxValue >= 5000)
        return 500;
    if (maxValue >= 3000)
        return 200;
    if (maxValue >= 1000)
        return 100;
    if (maxValue >= 500)
        return 50;
    if (maxValue >= 300)
        return 20;
    return 10;
}

std::int64_t VolumeGridStep(std::int64_t maxValue)
{
    // Quarters of the next round number above MaxValue: 3,456 -> 4,000 / 4 = 1,000. Below
    // 100 the rule goes on with tens and units (50 -> 15, 9 -> 2); it never gives 0.
    for (std::int64_t d = 100000000; d >= 1; d /= 10)
    {
        const std::int64_t q = maxValue / d;
        if (q != 0)
            return std::max<std::int64_t>((q + 1) * d / 4, 1);
    }
    return 1;
}

std::int64_t FirstMultiple(std::int64_t from, std::int64_t step)
{
    std::int64_t q = from / step;
    if (q * step < from)
        ++q;
    return q * step;
}
