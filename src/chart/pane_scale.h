#pragma once

#include "analysis/chart_bars.h"
#include "common/exact_format.h"

#include <cstdint>

// StepX and ScaleY are kept rounded to 5 decimals as integers in units of 1/100000, so
// every pixel is computed exactly; a double would round 12.5 pixels either way.
constexpr std::int64_t FixedUnit = 100000;

// How one chart pane maps period indexes and values to pixels.
struct TPaneScale
{
    int Left = 0; // plot edges in pixels
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int FirstIndex = 0;
    int LastIndex = 0;         // periods in the plot (1-based position of the newest)
    std::int64_t MinValue = 0; // value on Bottom (yen, RSI points or thousands of shares)
    std::int64_t MaxValue = 0; // value on Top
    std::int64_t Range = 0;    // MaxValue - MinValue
    std::int64_t StepX = 0;    // pixels per period x FixedUnit; 0 before any chart
    std::int64_t ScaleY = 0;   // pixels per value unit x ScaleUnit
    std::int64_t ScaleUnit = FixedUnit; // the Range instead for a volume pane beyond 32 bits
    int HalfStep = 0;          // price pane: half a period, to centre lines on candles
};

// Image sizes of the chart view.
constexpr int ChartImageWidth = 633;
constexpr int ChartImageHeight = 225;
constexpr int RsiImageHeight = 121;
constexpr int DekidakaImageHeight = 73;

//! Price pane over the used records; `kabuKa` (current price) sets the top of an empty table.
//! Throws TDataError when the values leave no range at all (a current price of -10).
TPaneScale ComputePriceScale(const TChartBars& bars, int imageWidth, int imageHeight, TDecimal kabuKa);

//! RSI pane: 0 to 100 over `lastIndex` periods (at least 1).
TPaneScale ComputeRsiScale(int lastIndex, int imageWidth, int imageHeight);

//! Volume pane in thousands of shares; HalfStep stays 0. With no record in use StepX is 0.
//! Volumes beyond the reach of 32 bits get the exact scale (Bottom - Top) / Range, since
//! ScaleY rounded to 5 decimals drifts off the pane there and is 0 past 8.6 million thousand.
TPaneScale ComputeVolumeScale(const TChartBars& bars, int imageWidth, int imageHeight);

//! round(value), halves away from zero, of a FixedUnit-scaled number.
std::int64_t RoundFixed(std::int64_t scaled);

//! Left edge of period `index` (0-based); index + 1 gives its right edge.
int PeriodLeftX(const TPaneScale& scale, int index);

//! Centre column of period `index`: Left + round(index x StepX + HalfStep).
int PeriodX(const TPaneScale& scale, int index);

//! round(units x ScaleY / ScaleUnit): the height in pixels of `units` value units.
int UnitsDy(const TPaneScale& scale, std::int64_t units);

//! Distance of `value` below Top: UnitsDy of Range - (value - MinValue).
int ValueDy(const TPaneScale& scale, std::int64_t value);

//! Top + ValueDy.
int ValueY(const TPaneScale& scale, std::int64_t value);

//! 1-based period number under pixel column x, halves away from zero; 0 when StepX is 0.
//! The caller checks it against the used records.
int PeriodUnderPointer(const TPaneScale& scale, int x);

//! Price grid step in yen for the pane's MaxValue.
std::int64_t PriceGridStep(std::int64_t maxValue);

//! Volume grid step in thousands of shares; under 100 the same quarter rule on tens and units.
std::int64_t VolumeGridStep(std::int64_t maxValue);

//! First multiple of `step` (> 0) at or above `from`.
std::int64_t FirstMultiple(std::int64_t from, std::int64_t step);
