#pragma once

#include "analysis/chart_bars.h"
#include "chart/pane_scale.h"

#include <functional>

class QPainter;
struct TChartPalette;

//! Draws the volume pane on `dekidaka` (633 x 73) in thousands of shares, each bar in the
//! columns of its candle, and overwrites `chartScale` with the pane's scale except HalfStep.
//! `processEvents` (may be empty) runs before each bar, with the scale already set.
//! With no period in use the pane shows its title and frame only.
void DrawDekidakaData(QPainter& dekidaka, const TChartBars& bars, TPaneScale& chartScale,
                      const std::function<void()>& processEvents, const TChartPalette& palette);
