#include "chart/chart_palette.h"

const TChartPalette& DefaultChartPalette()
{
    using namespace ChartColour;
    static const TChartPalette palette{
        .PaneBackground = Black,
        .Grid = Purple,
        .Text = White,
        .CandleUp = Blue,
        .CandleDown = Red,
        .ShortAverage = Yellow,
        .LongAverage = Aqua,
        .ShortRsiHot = Olive,
        .LongRsiHot = Red,
        .SignalMarker = Silver,
        .Volume = Blue,
        .ChartPanel = PanelGray,
        .BoardBackground = Black,
        .BoardLabel = BoardGray,
        .BoardCaption = Yellow,
        .BoardMutedCaption = Gray,
        .BoardValue = Red,
        .BoardName = Yellow,
        .VerdictSignal = Yellow,
        .VerdictQuiet = Black,
    };
    return palette;
}
