#pragma once

#include "screener/entry_verdict.h"

#include <QString>

#include <functional>

class QLabel;
class QProgressBar;
class QTreeWidget;
class TChartArchive;
class TChartSource;
class TChartView;
struct TKabuList;
struct TRunRecord;

//! The widgets a run shows its rows and its progress in.
struct TScreeningView
{
    QTreeWidget* List = nullptr; // the result list
    QProgressBar* Bar = nullptr; // the progress bar, shown for the length of the run
    QLabel* BarText = nullptr;   // the progress text over the bar
};

//! What a run asks of the window around it.
struct TScreeningHooks
{
    //! True once the window is to close: the run stops before the next stock.
    std::function<bool()> Closing;
    //! Shows the information box and waits for it.
    std::function<void(const QString&)> Inform;
    //! After each quote pass: stock `index` of `count`, with its code and name as the board
    //! shows them, or its code alone when there was no quote.
    std::function<void(int index, int count, const QString& stock)> Progress;
    //! The progress bar was shown or hidden: the list view lays itself out again.
    std::function<void()> Layout;
};

// The sector screening run: the whole chart chain for every entry of the list, in list order,
// and a row for each stock the entry verdict lists. Rows and the progress display are painted
// at most 25 times a second; the newest row is always in view.
class TScreeningRun
{
public:
    TScreeningRun(TChartView& chart, TChartSource& source, const TScreeningView& view, TScreeningHooks hooks);

    //! Screens `list`, weekly, with `conditions`: clears the list and `charts`, adds each
    //! listed stock's row and chart, and counts into `record` (screened, skipped, not
    //! listed, how the run ended, the pages read). `record.End` stays DataError when an
    //! exception ends the run; it goes on to the caller, and the rows so far stay listed.
    void Run(const TKabuList& list, const TEntryConditions& conditions, TRunRecord& record, TChartArchive& charts);

private:
    TChartView& Chart;
    TChartSource& Source;
    TScreeningView View;
    TScreeningHooks Hooks;
};
