#pragma once

#include "app/commands/chart_view.h"
#include "app/window/image_surface.h"
#include "analysis/average_rsi.h"
#include "chart/chart_palette.h"
#include "chart/chart_state.h"

#include <QWidget>

#include <functional>
#include <string>

class QFrame;
class QLabel;
class TChartSource;

// One chart: the quote board, the legend of the two averages, the verdict, and the chart panel
// with its three surfaces (price, volume, RSI), with the chart state the chain leaves behind.
// It runs the chart passes in their fixed order, reading the stock's figures from a source.
// The main window holds one; a window beside it may hold another, and what belongs to a
// chart (a read-out, an overlay) belongs here rather than to the form.
class TChartPane : public QWidget, public TChartView, public TChartState
{
    Q_OBJECT
public:
    //! The pane is 929 x 430: the board on the left, the chart panel from column 185 on.
    TChartPane(QWidget* parent, TChartSource& source, const TChartPalette& palette = DefaultChartPalette());

    //! Called at the chain's event points (the window lets its events run); may be empty.
    std::function<void()> ProcessEvents;
    //! True once transfers under way are to be given up (the window is closing); may be empty.
    std::function<bool()> Cancelled;

    // The quote board.
    QFrame* KabuKaPanel = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label17 = nullptr;
    QLabel* LabelKabuNo = nullptr;
    QLabel* LabelKabuKa = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* LabelTani = nullptr;
    QLabel* LabelTime = nullptr;
    // The legend of the two averages.
    QFrame* LinePanel = nullptr;
    QLabel* Label13 = nullptr;
    QLabel* LabelKaikaShort = nullptr;
    QLabel* Label14 = nullptr;
    QLabel* LabelKaikaLong = nullptr;
    // The verdict.
    QFrame* MessagePanel = nullptr;
    QLabel* MessageLabel = nullptr;
    // The chart panel.
    QFrame* ChartPanel = nullptr;
    TImageSurface* ImageChart = nullptr;
    TImageSurface* ImageDekidaka = nullptr;
    TImageSurface* ImageRSI = nullptr;

    //! The quote pass: today's quote of `kabuKey` into KabuQuote and the board. False when
    //! there is no usable quote (QuoteMiss and QuotePageBytes say why). Throws TDataError.
    bool GetKabuKa(const std::string& kabuKey) override;

    //! The chain after the quote: history, price chart, averages, signals, volume, for
    //! `length`. Returns the buy-signal pass's result. Throws TDataError.
    int RefreshChart(const std::string& kabuKey, TChartLength length) override;

    const TChartState& State() const override { return *this; }

    //! Writes KabuQuote to the quote board.
    void ShowKabuQuote();

    //! The read-out: the board shows the period under pointer column `x` of the price pane,
    //! or keeps what it shows where there is none.
    void ShowPeriodAt(int x, TChartLength length);

    //! The board back on the current quote; before the first quote it stays empty.
    void RestoreBoard();

    //! The chart panel as the screen shows it: the three surfaces on its background.
    QImage ChartPanelImage() const;
    TChartScene ChartPanelScene() const override;

    //! True once a chain has drawn the chart panel.
    bool ChartDrawn() const { return Drawn; }

private:
    // The passes of the chain, in the order RefreshChart calls them.
    void GetChartData(const std::string& kabuKey, TChartLength length);
    void DrawChartData(TChartLength length);
    int CalcAverageRsi(TAverageInstance instance);
    int FindBuySignals(TChartLength length);
    void DrawDekidakaData();

    void CreateBoard();
    void CreateLegend();
    void CreateChartPanel();
    void SetVerdictColour(const QColor& colour);
    void RunEvents() const;

    TChartSource& Source;
    const TChartPalette& Palette;
    bool Drawn = false;
};
