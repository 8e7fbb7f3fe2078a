#pragma once

#include "analysis/average_rsi.h"
#include "analysis/buy_signals.h"
#include "analysis/chart_bars.h"
#include "analysis/chart_length.h"
#include "chart/pane_scale.h"
#include "common/exact_format.h"

#include <functional>
#include <string_view>
#include <vector>

class QPainter;
struct TChartPalette;

//! Draws the candle chart on `chart` (633 x 225) and the empty RSI pane on `rsi` (633 x 121):
//! title with the KeyCode of `chartCode`, period marks, price grid, frame,
//! candles, RSI frame and levels. Sets `chartScale` and `rsiScale` before the first candle;
//! `processEvents` (may be empty) runs before each candle. `kabuKa` is the current price,
//! which sets the scale of an empty table. Throws TDataError on a malformed date.
void DrawChartData(QPainter& chart, QPainter& rsi, const TChartBars& bars, std::string_view chartCode,
                   TChartLength length, TDecimal kabuKa, TPaneScale& chartScale, TPaneScale& rsiScale,
                   const std::function<void()>& processEvents, const TChartPalette& palette);

//! Draws the average line of one instance over the candles and its RSI line on the RSI pane,
//! from the fields CalcAverageRsi wrote; nothing with fewer records than the window.
void DrawAverageRsiLines(QPainter& chart, QPainter& rsi, const TChartBars& bars, TAverageInstance instance,
                         const TPaneScale& chartScale, const TPaneScale& rsiScale, const TChartPalette& palette);

//! Marks each signal on the price pane: a circle on the short average line, the caption,
//! then `processEvents` (may be empty), then the buy price "%d円".
void DrawBuySignalMarkers(QPainter& chart, const TPaneScale& chartScale,
                          const std::vector<TBuySignalMarker>& markers,
                          const std::function<void()>& processEvents, const TChartPalette& palette);
