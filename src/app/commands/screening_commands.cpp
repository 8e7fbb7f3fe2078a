// The sector screening run and the commands on its result list.

#include "app/window/main_form.h"
#include "app/startup/startup_status.h"

#include "common/exact_format.h"
#include "data/cache_file.h"
#include "data/fetch_ahead.h"
#include "data/text_codec.h"
#include "data/todays_page.h"
#include "screener/kabu_list.h"
#include "screener/screening.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

namespace {

// The quote board's texts as the quote pass wrote them, in UTF-8 as the labels show them.
// The labels themselves may meanwhile show the read-out of the week under the mouse pointer.
TBoardTexts QuoteBoardTexts(const TKabuQuote& quote)
{
    const TKabuBoardTexts board = KabuBoardTexts(quote);
    return {Cp932ToUtf8(board.LabelKabuNo), Cp932ToUtf8(board.LabelKabuKa), Cp932ToUtf8(board.Label1),
            Cp932ToUtf8(board.Label2),      Cp932ToUtf8(board.Label3),      Cp932ToUtf8(board.Label4),
            Cp932ToUtf8(board.Label5),      Cp932ToUtf8(board.LabelTani)};
}

// Paints what a run changes for every stock, the result list and the progress display, at
// most 25 times a second: a new row makes the list repaint all its visible rows, and a step
// of the progress bar repaints the bar and what lies over it at once; more frames look the
// same to a reader. A change that arrives between frames is painted by a timer at the next
// frame, also when no further change follows for a long time, so the newest state shows
// within 40 ms and painting is never left switched off.
class TRunFrames
{
public:
    explicit TRunFrames(std::initializer_list<QWidget*> widgets) : Widgets(widgets)
    {
        Timer.setSingleShot(true);
        QObject::connect(&Timer, &QTimer::timeout, Widgets.front(), [this] { Paint(); });
        SinceFrame.start();
    }
    ~TRunFrames() { Resume(); }
    TRunFrames(const TRunFrames&) = delete;
    TRunFrames& operator=(const TRunFrames&) = delete;

    //! Runs `action` at once while the widgets paint, else right before they paint again,
    //! in place of an action still waiting: what it changes shows only in a frame anyway.
    void BeforeFrame(std::function<void()> action)
    {
        if (Paused)
            Waiting = std::move(action);
        else
            action();
    }

    //! Call before the widgets change.
    void Coming()
    {
        const qint64 elapsed = SinceFrame.elapsed();
        if (elapsed >= FrameMs)
        {
            Timer.stop();
            Paint();
            return;
        }
        if (!Paused)
        {
            for (QWidget* widget : Widgets)
                widget->setUpdatesEnabled(false);
            Paused = true;
        }
        if (!Timer.isActive())
            Timer.start(static_cast<int>(FrameMs - elapsed));
    }

private:
    static constexpr qint64 FrameMs = 40;

    void Paint()
    {
        Resume();
        SinceFrame.restart();
    }

    void Resume()
    {
        if (!Paused)
            return;
        if (Waiting)
            std::exchange(Waiting, nullptr)();
        for (QWidget* widget : Widgets)
            widget->setUpdatesEnabled(true);
        Paused = false;
    }

    std::vector<QWidget*> Widgets;
    QTimer Timer;
    QElapsedTimer SinceFrame;
    bool Paused = false;
    std::function<void()> Waiting; // for the next frame
};

// The rows a run has found but not yet put in the list. A row put in lays the whole list out
// again, so they go in together, just before a frame shows them; the newest is then scrolled
// into view and made current, with no row selected.
class TPendingRows
{
public:
    explicit TPendingRows(QTreeWidget* list) : List(list) {}
    ~TPendingRows() { Flush(); }
    TPendingRows(const TPendingRows&) = delete;
    TPendingRows& operator=(const TPendingRows&) = delete;

    void Add(QTreeWidgetItem* row) { Rows.append(row); }

    void Flush()
    {
        if (Rows.isEmpty())
            return;
        QTreeWidgetItem* newest = Rows.back();
        List->addTopLevelItems(Rows);
        Rows.clear();
        List->setCurrentItem(newest);
        List->scrollToItem(newest);
        List->clearSelection();
    }

private:
    QTreeWidget* List;
    QList<QTreeWidgetItem*> Rows;
};

Qt::Alignment ColumnAlignment(int column)
{
    if (column == 0)
        return Qt::AlignLeft | Qt::AlignVCenter;
    if (column >= 17)
        return Qt::AlignRight | Qt::AlignVCenter;
    return Qt::AlignHCenter | Qt::AlignVCenter;
}

} // namespace

void TMainForm::KabuSearchButtonClick()
{
    bool recording = false;
    TPageReads pagesAtStart;
    const auto hideProgress = [&] {
        LabelKabuReadBar->hide();
        KabuReadBar->hide();
        LayoutClientArea();
        if (!recording)
            return;
        const TPageReads pages = PageReads();
        LastRun->Pages = {pages.Fetched - pagesAtStart.Fetched, pages.FromCache - pagesAtStart.FromCache};
        UpdateReportActions();
    };
    RunCommand({KabuNoButton, KabuNoEdit, ShijouBox, ChartLengDay, ChartLengWeek, KabuSearchBox, KabuSearchButton},
               [&] {
                   const TKabuList list = ReadKabuList(Utf8ToCp932(KabuSearchBox->currentText().toStdString()));
                   ChartLengWeek->setChecked(true);
                   CodePanel->show();
                   const bool shiftDown = ShiftKeyDownHook ? ShiftKeyDownHook()
                                                           : QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
                   if (shiftDown)
                       return;

                   // From here on the progress display is hidden again on every way out.
                   struct TProgressGuard
                   {
                       std::function<void()> Hide;
                       bool& Running;
                       ~TProgressGuard()
                       {
                           Running = false;
                           Hide();
                       }
                   } progressGuard{hideProgress, ScreeningRunning};
                   ScreeningRunning = true;
                   const int count = static_cast<int>(list.Entries.size());
                   // The run's record goes with its rows: kept until the next run clears them.
                   LastRun.emplace();
                   LastRun->SampleData = CurrentServiceStatus().Sample;
                   LastRun->Sector = KabuSearchBox->currentText().toStdString();
                   LastRun->Date = DateText(TodayLocal());
                   LastRun->HitsOnly = HitPutCheck->isChecked();
                   LastRun->Under100k = UnderKabuCheck->isChecked();
                   LastRun->Rsi30 = RSI30Check->isChecked();
                   LastRun->Entries = count;
                   LastRun->End = TRunEnd::DataError; // until it ends otherwise
                   recording = true;
                   pagesAtStart = PageReads();
                   UpdateReportActions();
                   KabuReadBar->show();
                   LabelKabuReadBar->show();
                   LayoutClientArea();
                   KabuReadBar->setValue(0);
                   KabuReadBar->setMaximum(std::max(count, 1));
                   KabuCodeList->clear();
                   RunCharts.Clear();
                   TPendingRows pendingRows(KabuCodeList); // flushed by the frames first
                   TRunFrames frames({KabuCodeList, KabuReadBar, LabelKabuReadBar});
                   if (count == 0)
                   {
                       LastRun->End = TRunEnd::Completed;
                       ShowInformation(QStringLiteral("該当銘柄がありませんでした。"));
                       return;
                   }
                   if (list.Truncated)
                       ShowInformation(QStringLiteral("銘柄一覧が%1件を超えています。先頭の%1件だけを検索します。")
                                           .arg(MaxKabuListEntries));
                   // The pages of the stocks ahead are fetched while the chain works on one;
                   // the transfers end on every way out.
                   if (FetchAheadConnections() > 0)
                       FetchAhead = std::make_unique<TFetchAhead>(ScreeningKeys(list.Entries), FetchAheadConnections());
                   struct TFetchAheadGuard
                   {
                       std::unique_ptr<TFetchAhead>& Ahead;
                       ~TFetchAheadGuard() { Ahead.reset(); }
                   } fetchAheadGuard{FetchAhead};

                   TRunEnd end = TRunEnd::Completed;
                   for (int i = 1; i <= count; ++i)
                   {
                       if (Tag == ClosingTag)
                       {
                           end = TRunEnd::WindowClosed;
                           break;
                       }
                       const TKabuListEntry& entry = list.Entries[static_cast<std::size_t>(i - 1)];
                       frames.Coming();
                       LabelKabuReadBar->setText(QString::fromStdString(ProgressText(i, count)));
                       const TEntryCode code = EntryCode(entry.CodeText);
                       KabuReadBar->setValue(i);
                       if (code.Code.empty())
                       {
                           end = TRunEnd::StoppedAtCode;
                           LastRun->StopCode = code.Number;
                           break;
                       }
                       const std::string key = ScreeningKey(code.Code, entry.Suffix);
                       QuoteMiss = TQuoteMiss::None;
                       QuotePageBytes = 0;
                       const bool quoted = GetKabuKa(key);
                       const std::string& keyCode = code.Code;
                       emit ScreeningProgress(i, count, quoted ? LabelKabuNo->text() : QString::fromStdString(keyCode));
                       if (!quoted)
                       {
                           LastRun->Skipped.push_back({keyCode, entry.MarketName, QuoteMiss, QuotePageBytes,
                                                       Cp932ToUtf8(entry.SecondField)});
                           continue;
                       }
                       ++LastRun->Screened;
                       const int signalResult = RefreshChart(key);

                       THitLevel hitLevel = BuySignals.BuyDate.empty() ? THitLevel::None : THitLevel::Purchase;
                       if (RSI30Check->isChecked())
                       {
                           const bool weekly = ChartLengWeek->isChecked();
                           for (int k = MaxChartBars - 1; k >= 7; --k)
                           {
                               const TChartRec& bar = ChartBars[static_cast<std::size_t>(k)];
                               if (bar.DateText.empty())
                                   continue;
                               const int shortRsi = weekly ? bar.RsiShortWeek : bar.RsiShortDay;
                               const int longRsi = weekly ? bar.RsiLongWeek : bar.RsiLongDay;
                               if (shortRsi <= 30 && longRsi <= 30)
                               {
                                   hitLevel = THitLevel::Rsi;
                                   break;
                               }
                           }
                       }
                       if (hitLevel == THitLevel::None)
                       {
                           ++LastRun->NotListed.NoPurchase;
                           continue;
                       }
                       const TBoardTexts board = QuoteBoardTexts(KabuQuote);
                       if (UnderKabuCheck->isChecked())
                       {
                           const std::int64_t unitPrice =
                               static_cast<std::int64_t>(BoardNumber(board.Tani)) * BoardNumber(board.KabuKa);
                           if (unitPrice > 100000)
                           {
                               ++LastRun->NotListed.Over100k;
                               continue;
                           }
                       }
                       if (HitPutCheck->isChecked() && signalResult == 0)
                       {
                           ++LastRun->NotListed.NoNewestSignal;
                           continue;
                       }

                       TRowInputs inputs;
                       inputs.Board = board;
                       inputs.MarketName = entry.MarketName;
                       inputs.HitLevel = hitLevel;
                       inputs.SignalResult = signalResult;
                       inputs.BackTest = BuySignals;
                       const TResultRow cells = BuildResultRow(inputs);
                       frames.Coming();
                       auto* item = new QTreeWidgetItem;
                       pendingRows.Add(item);
                       for (int column = 0; column < ResultColumnCount; ++column)
                       {
                           item->setText(column, QString::fromStdString(cells[static_cast<std::size_t>(column)]));
                           item->setTextAlignment(column, ColumnAlignment(column));
                       }
                       // The chart as drawn for this row; its number goes wherever sorting takes the row.
                       item->setData(0, ChartRole, RunCharts.Add(ChartPanelScene()));
                       frames.BeforeFrame([&pendingRows] { pendingRows.Flush(); });
                       if (CodePanel->isVisible())
                           KabuCodeList->setFocus();
                   }
                   LastRun->End = end;
               });
    if (recording && LastRun->End == TRunEnd::DataError)
        LastRun->ErrorText = LastErrorText;
}

void TMainForm::KabuCodeListDblClick()
{
    QTreeWidgetItem* first = nullptr;
    for (int i = 0; i < KabuCodeList->topLevelItemCount() && !first; ++i)
        if (KabuCodeList->topLevelItem(i)->isSelected())
            first = KabuCodeList->topLevelItem(i);
    // Opening a row in the middle of a run would refill the tables the run is about to read
    // for its current stock, and list that stock with another stock's back-test.
    if (!first || ScreeningRunning)
        return;
    RunCommand({KabuNoButton, KabuNoEdit, ShijouBox, ChartLengDay, ChartLengWeek}, [&] {
        CodePanel->hide();
        const std::optional<std::string_view> suffix = KeySuffixOfMarketName(first->text(1).toStdString());
        // A row without a known market has no key; it opens nothing rather than asking
        // the service for an empty code.
        if (!suffix)
            return;
        const std::string key = first->text(0).left(4).toStdString() + std::string(*suffix);
        if (GetKabuKa(key))
            RefreshChart(key);
    });
}

void TMainForm::KabuCodeListColumnClick(int column)
{
    // Rows are compared as text by the user's locale; the direction flips after every sort,
    // whichever column was clicked.
    std::vector<QTreeWidgetItem*> rows;
    std::vector<QTreeWidgetItem*> selected;
    while (KabuCodeList->topLevelItemCount() > 0)
    {
        QTreeWidgetItem* row = KabuCodeList->topLevelItem(0);
        if (row->isSelected())
            selected.push_back(row);
        rows.push_back(KabuCodeList->takeTopLevelItem(0));
    }
    const int direction = KabuCodeListTag;
    std::stable_sort(rows.begin(), rows.end(), [column, direction](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return QString::localeAwareCompare(a->text(column), b->text(column)) * direction < 0;
    });
    for (QTreeWidgetItem* row : rows)
        KabuCodeList->addTopLevelItem(row);
    for (QTreeWidgetItem* row : selected)
        row->setSelected(true);
    KabuCodeListTag = -KabuCodeListTag;
}

void TMainForm::CopyCodeButtonClick()
{
    QString text;
    for (int i = 0; i < KabuCodeList->topLevelItemCount(); ++i)
    {
        const QTreeWidgetItem* row = KabuCodeList->topLevelItem(i);
        if (!row->isSelected())
            continue;
        text += row->text(0);
        for (int column = 1; column < ResultColumnCount; ++column)
        {
            QString cell = row->text(column);
            cell.remove(QLatin1Char(','));
            text += QLatin1Char(',') + cell;
        }
        text += QStringLiteral("\r\n");
    }
    QGuiApplication::clipboard()->setText(text);
}
