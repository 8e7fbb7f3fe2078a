#include "app/window/chart_pane.h"

#include "app/window/form_widgets.h"
#include "chart/chart_canvas.h"
#include "chart/chart_readout.h"
#include "chart/price_chart.h"
#include "chart/volume_chart.h"
#include "common/exact_format.h"
#include "data/chart_source.h"
#include "data/text_codec.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>

#include <algorithm>

namespace {

void SetBoardText(QLabel* label, const std::string& shiftJis)
{
    label->setText(QString::fromStdString(Cp932ToUtf8(shiftJis)));
}

} // namespace

TChartPane::TChartPane(QWidget* parent, TChartSource& source, const TChartPalette& palette)
    : QWidget(parent), Source(source), Palette(palette)
{
    setObjectName(QStringLiteral("ChartPane"));
    resize(929, 430);
    CreateBoard();
    CreateLegend();
    CreateChartPanel();
}

void TChartPane::CreateBoard()
{
    KabuKaPanel = MakePanel(this, "KabuKaPanel", QRect(0, 0, 185, 179), Palette.BoardBackground);
    struct BoardRow
    {
        int Top;
        const char* CaptionName;
        const char* Caption;
        const char* ValueName;
        QLabel** Caption_;
        QLabel** Value;
    };
    const BoardRow rows[] = {
        {16, "Label6", "銘＿柄", "LabelKabuNo", &Label6, &LabelKabuNo},
        {32, "Label7", "現在値", "LabelKabuKa", &Label7, &LabelKabuKa},
        {56, "Label8", "前日比", "Label1", &Label8, &Label1},
        {72, "Label9", "始＿値", "Label2", &Label9, &Label2},
        {88, "Label10", "高＿値", "Label3", &Label10, &Label3},
        {104, "Label11", "安＿値", "Label4", &Label11, &Label4},
        {120, "Label12", "出来高", "Label5", &Label12, &Label5},
        {136, "Label17", "単元株数", "LabelTani", &Label17, &LabelTani},
    };
    for (const BoardRow& row : rows)
    {
        const bool isUnit = row.Caption_ == &Label17;
        *row.Caption_ = MakeLabel(KabuKaPanel, row.CaptionName, QRect(8, row.Top, 50, 12),
                                  QString::fromUtf8(row.Caption), Qt::AlignHCenter | Qt::AlignVCenter,
                                  isUnit ? Palette.BoardMutedCaption : Palette.BoardCaption, Palette.BoardLabel);
        const bool isName = row.Value == &LabelKabuNo;
        *row.Value = MakeLabel(
            KabuKaPanel, row.ValueName, isName ? QRect(60, row.Top, 119, 12) : QRect(72, row.Top, 98, 12), QString(),
            (isName ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, Palette.BoardValue, Palette.BoardLabel);
    }
    LabelTani->hide();
    LabelTime = MakeLabel(KabuKaPanel, "LabelTime", QRect(8, 160, 98, 12), QStringLiteral(" ---------- --:-- "),
                          Qt::AlignCenter, Palette.BoardValue, Palette.BoardLabel);
}

void TChartPane::CreateLegend()
{
    LinePanel = MakePanel(this, "LinePanel", QRect(0, 184, 185, 42), Palette.BoardBackground);
    Label13 = MakeLabel(LinePanel, "Label13", QRect(16, 8, 52, 12), QStringLiteral("　７週平均"),
                        Qt::AlignLeft | Qt::AlignVCenter, Palette.ShortAverage, Palette.BoardLabel);
    LabelKaikaShort = MakeLabel(LinePanel, "LabelKaikaShort", QRect(80, 8, 73, 12), QStringLiteral("0円"),
                                Qt::AlignRight | Qt::AlignVCenter, Palette.ShortAverage, Palette.BoardLabel);
    Label14 = MakeLabel(LinePanel, "Label14", QRect(16, 24, 52, 12), QStringLiteral("１３週平均"),
                        Qt::AlignLeft | Qt::AlignVCenter, Palette.LongAverage, Palette.BoardLabel);
    LabelKaikaLong = MakeLabel(LinePanel, "LabelKaikaLong", QRect(80, 24, 73, 12), QStringLiteral("0円"),
                               Qt::AlignRight | Qt::AlignVCenter, Palette.LongAverage, Palette.BoardLabel);
    // IPA P Gothic is wider than the layout's face: "　７週平均" lost its last character. Both
    // captions, weekly or daily, get one narrower stretch of the face that fits them all.
    QFont legendFont = Label13->font();
    int legendStretch = 100;
    for (const QString& caption : {QStringLiteral("　７週平均"), QStringLiteral("１３週平均"),
                                   QStringLiteral("　７日平均"), QStringLiteral("１３日平均")})
        legendStretch = std::min(legendStretch, FittingStretch(legendFont, caption, Label13->width() - 1));
    legendFont.setStretch(legendStretch);
    Label13->setFont(legendFont);
    Label14->setFont(legendFont);

    MessagePanel = MakePanel(this, "MessagePanel", QRect(0, 338, 185, 91), Palette.BoardBackground);
    MessageLabel = MakeLabel(MessagePanel, "MessageLabel", QRect(16, 16, 153, 65), QStringLiteral("買いです。"),
                             Qt::AlignCenter, Palette.VerdictQuiet, Palette.BoardLabel);
    MessageLabel->setFont(PixelFont(WindowFontName, 24, true));
}

void TChartPane::CreateChartPanel()
{
    ChartPanel = MakePanel(this, "ChartPanel", QRect(185, 0, 648, 429), Palette.ChartPanel);
    ImageChart = new TImageSurface(ChartPanel, 633, 225);
    ImageChart->setObjectName(QStringLiteral("ImageChart"));
    ImageChart->move(8, 8);
    ImageChart->setMouseTracking(true);
    ImageDekidaka = new TImageSurface(ChartPanel, 633, 73);
    ImageDekidaka->setObjectName(QStringLiteral("ImageDekidaka"));
    ImageDekidaka->move(8, 232);
    ImageRSI = new TImageSurface(ChartPanel, 633, 121);
    ImageRSI->setObjectName(QStringLiteral("ImageRSI"));
    ImageRSI->move(8, 304);
}

void TChartPane::RunEvents() const
{
    if (ProcessEvents)
        ProcessEvents();
}

bool TChartPane::GetKabuKa(const std::string& kabuKey)
{
    const TQuoteRead read = Source.Quote(
        kabuKey, [this] { RunEvents(); }, Cancelled);
    QuoteMiss = read.Miss;
    QuotePageBytes = read.PageBytes;
    if (!read.Quote)
        return false;
    KabuQuote = *read.Quote;
    ShowKabuQuote();
    RunEvents();
    return true;
}

void TChartPane::ShowKabuQuote()
{
    const TKabuBoardTexts board = KabuBoardTexts(KabuQuote);
    SetBoardText(LabelKabuNo, board.LabelKabuNo);
    SetTextColour(LabelKabuNo, Palette.BoardName);
    SetBoardText(LabelKabuKa, board.LabelKabuKa);
    SetBoardText(Label1, board.Label1);
    SetBoardText(Label2, board.Label2);
    SetBoardText(Label3, board.Label3);
    SetBoardText(Label4, board.Label4);
    SetBoardText(Label5, board.Label5);
    SetBoardText(LabelTani, board.LabelTani);
    SetBoardText(LabelTime, board.LabelTime);
}

int TChartPane::RefreshChart(const std::string& kabuKey, TChartLength length)
{
    const auto legendValue = [](int average) {
        return QString::fromStdString(FormatD(average, 7, 0)) + QStringLiteral("円");
    };
    // The verdict speaks of the stock on show: a scan without a signal must not leave the
    // colour of the previous stock's signal.
    SetVerdictColour(Palette.VerdictQuiet);
    GetChartData(kabuKey, length);
    DrawChartData(length);
    const bool weekly = length == TChartLength::Weekly;
    const int shortAverage = CalcAverageRsi(weekly ? TAverageInstance::ShortWeek : TAverageInstance::ShortDay);
    Label13->setText(weekly ? QStringLiteral("　７週平均") : QStringLiteral("　７日平均"));
    LabelKaikaShort->setText(legendValue(shortAverage));
    const int longAverage = CalcAverageRsi(weekly ? TAverageInstance::LongWeek : TAverageInstance::LongDay);
    Label14->setText(weekly ? QStringLiteral("１３週平均") : QStringLiteral("１３日平均"));
    LabelKaikaLong->setText(legendValue(longAverage));
    const int signalResult = FindBuySignals(length);
    DrawDekidakaData();
    ImageChart->Present();
    ImageRSI->Present();
    ImageDekidaka->Present();
    Drawn = true;
    return signalResult;
}

void TChartPane::GetChartData(const std::string& kabuKey, TChartLength length)
{
    // Readers running while the page loads see an empty table, never a half-copied one.
    ClearChartDates(ChartBars);
    const TChartPeriod period = length == TChartLength::Daily ? TChartPeriod::Daily : TChartPeriod::Weekly;
    const THistoryRows rows = Source.History(
        kabuKey, period, KabuQuote.KabuKa, [this] { RunEvents(); }, Cancelled);
    if (CopyHistoryRows(rows, ChartBars))
        ChartCode = kabuKey;
}

void TChartPane::DrawChartData(TChartLength length)
{
    // The pass clears both panes first.
    ImageChart->Restart();
    ImageRSI->Restart();
    QPainter chart(&ImageChart->Picture);
    QPainter rsi(&ImageRSI->Picture);
    ::DrawChartData(
        chart, rsi, ChartBars, ChartCode, length, TDecimal{KabuQuote.KabuKa, 4}, ChartScale, RsiScale,
        [this] { RunEvents(); }, Palette);
}

int TChartPane::CalcAverageRsi(TAverageInstance instance)
{
    const int average = ::CalcAverageRsi(ChartBars, instance);
    QPainter chart(&ImageChart->Picture);
    QPainter rsi(&ImageRSI->Picture);
    DrawAverageRsiLines(chart, rsi, ChartBars, instance, ChartScale, RsiScale, Palette);
    return average;
}

int TChartPane::FindBuySignals(TChartLength length)
{
    const TBuySignalScan scan = ::FindBuySignals(ChartBars, length, BuySignals);
    {
        QPainter chart(&ImageChart->Picture);
        DrawBuySignalMarkers(
            chart, ChartScale, scan.Markers, [this] { RunEvents(); }, Palette);
    }
    if (scan.Verdict != TVerdictColour::Unchanged)
        SetVerdictColour(scan.Verdict == TVerdictColour::Yellow ? Palette.VerdictSignal : Palette.VerdictQuiet);
    return scan.Result;
}

void TChartPane::DrawDekidakaData()
{
    ImageDekidaka->Restart(); // the pass clears the pane first
    QPainter dekidaka(&ImageDekidaka->Picture);
    ::DrawDekidakaData(
        dekidaka, ChartBars, ChartScale, [this] { RunEvents(); }, Palette);
}

void TChartPane::SetVerdictColour(const QColor& colour)
{
    SetTextColour(MessageLabel, colour);
}

void TChartPane::ShowPeriodAt(int x, TChartLength length)
{
    const std::optional<TReadoutText> readout = ChartReadout(ChartBars, ChartScale, x, length);
    if (!readout)
        return;
    SetBoardText(LabelTime, readout->LabelTime);
    SetBoardText(Label1, readout->Label1);
    SetBoardText(Label2, readout->Label2);
    SetBoardText(Label3, readout->Label3);
    SetBoardText(Label4, readout->Label4);
    SetBoardText(Label5, readout->Label5);
    SetBoardText(LabelKabuKa, readout->LabelKabuKa);
    SetBoardText(LabelKaikaShort, readout->LabelKaikaShort);
    SetBoardText(LabelKaikaLong, readout->LabelKaikaLong);
}

void TChartPane::RestoreBoard()
{
    // Before the first quote there is nothing to restore: the board stays empty rather than
    // showing the zeros of a quote never read.
    if (KabuQuote.KabuNo.empty())
        return;
    ShowKabuQuote();
}

TChartScene TChartPane::ChartPanelScene() const
{
    TChartScene scene;
    scene.Size = ChartPanel->size();
    scene.Background = ChartPanel->palette().color(QPalette::Window);
    // In stacking order, so a pane covers the one row it shares with the pane above it.
    for (const TImageSurface* surface : ChartPanel->findChildren<TImageSurface*>(Qt::FindDirectChildrenOnly))
        scene.Layers.push_back({surface->pos(), surface->Shown});
    return scene;
}

QImage TChartPane::ChartPanelImage() const
{
    return ComposeChart(ChartPanelScene());
}
