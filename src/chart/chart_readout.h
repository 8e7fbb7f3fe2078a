#pragma once

#include "analysis/chart_bars.h"
#include "analysis/chart_length.h"
#include "chart/pane_scale.h"

#include <optional>
#include <string>

// Quote board texts for the period under the pointer, named after the labels they go to.
// Numbers are "%6d": no separators, no unit. Bytes; LabelTime is the date as stored.
struct TReadoutText
{
    std::string LabelTime;
    std::string Label1;      // the change: empty during the read-out
    std::string Label2;      // open
    std::string Label3;      // high
    std::string Label4;      // low
    std::string Label5;      // volume in shares
    std::string LabelKabuKa; // close
    std::string LabelKaikaShort;
    std::string LabelKaikaLong;
};

//! The board for pointer column x over the price chart, or nothing when the board must keep
//! what it shows: no chart yet (StepX 0), left of the first or right of the newest period.
std::optional<TReadoutText> ChartReadout(const TChartBars& bars, const TPaneScale& chartScale, int x,
                                         TChartLength length);
