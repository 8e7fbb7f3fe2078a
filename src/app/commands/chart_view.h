#pragma once

#include "analysis/chart_length.h"
#include "chart/chart_state.h"
#include "report/chart_archive.h"

#include <string>

// The chart on show as the commands drive it: the chain's passes, and what they leave behind.
// The window's TChartPane is one; the commands know it only by this.
class TChartView
{
public:
    virtual ~TChartView() = default;

    //! The quote pass for `kabuKey`: fills the quote and the board; false when there is no
    //! usable quote (the state's QuoteMiss says why). Throws as the pass does.
    virtual bool GetKabuKa(const std::string& kabuKey) = 0;

    //! The chain after the quote, for `length`: history, price chart, averages, signals,
    //! volume. Returns the buy-signal pass's result. Throws as a pass does.
    virtual int RefreshChart(const std::string& kabuKey, TChartLength length) = 0;

    //! What the chain left behind.
    virtual const TChartState& State() const = 0;

    //! The chart panel as the screen shows it now, its pictures shared.
    virtual TChartScene ChartPanelScene() const = 0;
};
