#pragma once

#include "analysis/chart_bars.h"
#include "analysis/chart_length.h"

#include <cstdint>
#include <string>
#include <vector>

// What the latest buy-signal scan left behind; the screening run reads it.
struct TBuySignalResult
{
    std::string BuyDate;           // date of the buy period of the latest signal
    std::int32_t BuyPrice = 0;     // yen
    std::int32_t SignalKind = 0;   // 0 none, 1 rising point, 2 divergence point (newest examined period)
    std::string SellDate;          // date of the back-test's latest new high or low
    std::int32_t HighAfterBuy = 0; // highest open or close since the buy
    std::int32_t LowAfterBuy = 0;  // lowest open or close since the buy
    std::int32_t HighWatch = -1;   // -1 until the 110 % target is reached, then 0
    std::int32_t LowWatch = -1;    // -1 until the 90 % stop is reached, then 0
    double RatioBefore2 = 0;       // short / long two periods before the signal, 2 decimals (weekly)
    double RatioBefore1 = 0;
    double RatioAtSignal = 0;
    double SignalKindReal = 0;
};

enum class TSignalKind : std::int32_t
{
    None = 0,
    Rising = 1,    // the short average crosses above the long one
    Divergence = 2 // the long average stands 10 % or more above the short one
};

// One signal to mark on the price pane.
struct TBuySignalMarker
{
    int Index = 0; // signal period
    TSignalKind Kind = TSignalKind::None;
    std::int32_t ShortAverage = 0; // the marker sits on the short average line
    std::int32_t BuyPrice = 0;
};

// Font colour of the verdict label "買いです。" after a scan.
enum class TVerdictColour
{
    Unchanged, // daily scan, or no signal
    Black,     // latest signal bought at a later period's open
    Yellow     // latest signal is on the newest period, bought at its close
};

struct TBuySignalScan
{
    std::int32_t Result = 0;               // BuyPrice when the newest examined period is a signal period
    std::vector<TBuySignalMarker> Markers; // oldest first
    TVerdictColour Verdict = TVerdictColour::Unchanged;
};

//! Two-decimal ratio num / den, halves away from zero, as a double (0.905 -> 0.91).
//! Throws TDataError when den is 0 (a moving average of 0 from zero closes).
double Ratio2(std::int64_t num, std::int64_t den);

//! Scans the view's two averages for rising and divergence points and back-tests each
//! purchase (weekly). Resets `result` to its start values first (the daily scan keeps the
//! four weekly-only fields) and leaves the latest signal's figures in it.
TBuySignalScan FindBuySignals(const TChartBars& bars, TChartLength length, TBuySignalResult& result);
