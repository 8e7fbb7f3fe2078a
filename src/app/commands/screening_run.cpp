#include "app/commands/screening_run.h"

#include "app/commands/chart_view.h"
#include "app/commands/pending_rows.h"
#include "app/commands/result_list.h"
#include "app/commands/run_frames.h"
#include "data/chart_source.h"
#include "data/text_codec.h"
#include "data/todays_page.h"
#include "report/chart_archive.h"
#include "report/run_summary.h"
#include "screener/kabu_list.h"

#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
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

} // namespace

TScreeningRun::TScreeningRun(TChartView& chart, TChartSource& source, const TScreeningView& view, TScreeningHooks hooks)
    : Chart(chart), Source(source), View(view), Hooks(std::move(hooks))
{}

void TScreeningRun::Run(const TKabuList& list, const TEntryConditions& conditions, TRunRecord& record,
                        TChartArchive& charts)
{
    const int count = static_cast<int>(list.Entries.size());
    // The progress display goes again on every way out, and the run's page reads are counted.
    struct TProgressGuard
    {
        const TScreeningView& View;
        const std::function<void()>& Layout;
        TRunRecord& Record;
        const TPageReads AtStart = PageReads();
        ~TProgressGuard()
        {
            View.BarText->hide();
            View.Bar->hide();
            Layout();
            const TPageReads pages = PageReads();
            Record.Pages = {pages.Fetched - AtStart.Fetched, pages.FromCache - AtStart.FromCache};
        }
    } progressGuard{View, Hooks.Layout, record};
    View.Bar->show();
    View.BarText->show();
    Hooks.Layout();
    View.Bar->setValue(0);
    View.Bar->setMaximum(std::max(count, 1));
    View.List->clear();
    charts.Clear();
    TPendingRows pendingRows(View.List); // flushed by the frames first
    TRunFrames frames({View.List, View.Bar, View.BarText});
    if (count == 0)
    {
        record.End = TRunEnd::Completed;
        Hooks.Inform(QStringLiteral("該当銘柄がありませんでした。"));
        return;
    }
    if (list.Truncated)
        Hooks.Inform(
            QStringLiteral("銘柄一覧が%1件を超えています。先頭の%1件だけを検索します。").arg(MaxKabuListEntries));
    // The pages of the stocks ahead may be fetched while the chain works on one; whatever
    // is under way ends on every way out.
    Source.BeginRun(ScreeningKeys(list.Entries));
    struct TReadAheadGuard
    {
        TChartSource& Source;
        ~TReadAheadGuard() { Source.EndRun(); }
    } readAheadGuard{Source};

    TRunEnd end = TRunEnd::Completed;
    for (int i = 1; i <= count; ++i)
    {
        if (Hooks.Closing())
        {
            end = TRunEnd::WindowClosed;
            break;
        }
        const TKabuListEntry& entry = list.Entries[static_cast<std::size_t>(i - 1)];
        frames.Coming();
        View.BarText->setText(QString::fromStdString(ProgressText(i, count)));
        const TEntryCode code = EntryCode(entry.CodeText);
        View.Bar->setValue(i);
        if (code.Code.empty())
        {
            end = TRunEnd::StoppedAtCode;
            record.StopCode = code.Number;
            break;
        }
        const std::string key = ScreeningKey(code.Code, entry.Suffix);
        const TChartState& state = Chart.State();
        if (!Chart.GetKabuKa(key))
        {
            Hooks.Progress(i, count, QString::fromStdString(code.Code));
            record.Skipped.push_back(
                {code.Code, entry.MarketName, state.QuoteMiss, state.QuotePageBytes, Cp932ToUtf8(entry.SecondField)});
            continue;
        }
        // Read from the quote once: the chain after it leaves the quote as it is.
        const TBoardTexts board = QuoteBoardTexts(state.KabuQuote);
        Hooks.Progress(i, count, QString::fromStdString(board.KabuNo));
        ++record.Screened;
        const int signalResult = Chart.RefreshChart(key, TChartLength::Weekly);

        const TEntryVerdict verdict =
            EntryVerdict(state.BuySignals, signalResult, state.ChartBars, TChartLength::Weekly, board, conditions);
        switch (verdict.Outcome)
        {
        case TEntryOutcome::NoPurchase:
            ++record.NotListed.NoPurchase;
            continue;
        case TEntryOutcome::Over100k:
            ++record.NotListed.Over100k;
            continue;
        case TEntryOutcome::NoNewestSignal:
            ++record.NotListed.NoNewestSignal;
            continue;
        case TEntryOutcome::Listed:
            break;
        }

        TRowInputs inputs;
        inputs.Board = board;
        inputs.MarketName = entry.MarketName;
        inputs.HitLevel = verdict.HitLevel;
        inputs.SignalResult = signalResult;
        inputs.BackTest = state.BuySignals;
        const TResultRow cells = BuildResultRow(inputs);
        frames.Coming();
        auto* item = new QTreeWidgetItem;
        pendingRows.Add(item);
        for (int column = 0; column < ResultColumnCount; ++column)
        {
            item->setText(column, QString::fromStdString(cells[static_cast<std::size_t>(column)]));
            item->setTextAlignment(column, ResultColumn(column).Alignment);
        }
        // The chart as drawn for this row; its number goes wherever sorting takes the row.
        item->setData(0, ChartRole, charts.Add(Chart.ChartPanelScene()));
        frames.BeforeFrame([&pendingRows] { pendingRows.Flush(); });
        if (View.List->isVisible())
            View.List->setFocus();
    }
    record.End = end;
}
