#pragma once

#include <QColor>

// The colours of a chart by role. The painters and the chart pane take one of these instead of
// naming colours, so a second look (a detail window's, a dark or printable one) is a second
// record, not a second set of painters.

// The named colours of the default palette.
namespace ChartColour {
inline const QColor Black{0, 0, 0};
inline const QColor White{255, 255, 255};
inline const QColor Purple{128, 0, 128};
inline const QColor Red{255, 0, 0};
inline const QColor Blue{0, 0, 255};
inline const QColor Yellow{255, 255, 0};
inline const QColor Olive{128, 128, 0};
inline const QColor Aqua{0, 255, 255};
inline const QColor Silver{192, 192, 192};
inline const QColor Gray{128, 128, 128};
inline const QColor BoardGray{51, 51, 51};
inline const QColor PanelGray{68, 68, 68};
} // namespace ChartColour

struct TChartPalette
{
    // The panes.
    QColor PaneBackground; // what a pass clears a pane to
    QColor Grid;           // frames, value grid, period marks and RSI levels
    QColor Text;           // titles, axis labels, signal captions and buy prices
    QColor CandleUp;       // a period that closed at or above its open
    QColor CandleDown;     // a period that closed below its open
    QColor ShortAverage;   // the short average and its RSI line
    QColor LongAverage;    // the long average and its RSI line
    QColor ShortRsiHot;    // the short RSI line at 70 or above
    QColor LongRsiHot;     // the long RSI line at 70 or above
    QColor SignalMarker;   // the circle on a buy signal
    QColor Volume;         // volume bars
    // Around the panes: the chart panel and the quote board.
    QColor ChartPanel;        // the panel the three panes lie on
    QColor BoardBackground;   // the board's, the legend's and the verdict's panels
    QColor BoardLabel;        // the ground of each board label
    QColor BoardCaption;      // a board caption ("現在値")
    QColor BoardMutedCaption; // the caption of a figure not shown ("単元株数")
    QColor BoardValue;        // a board figure
    QColor BoardName;         // the stock's code and name once a quote was read
    QColor VerdictSignal;     // "買いです。" when the newest week is a signal week
    QColor VerdictQuiet;      // "買いです。" otherwise
};

//! The program's own colours, exactly as they have always been.
const TChartPalette& DefaultChartPalette();
