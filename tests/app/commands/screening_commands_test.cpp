#include "app/window/main_form.h"

#include "../fake_dialogs.h"
#include "../form_inputs.h"
#include "../form_service_test.h"
#include "app/commands/result_list.h"
#include "app/window/chart_pane.h"
#include "data/chart_source.h"

#include "data/fetch_ahead.h"
#include "data/text_codec.h"
#include "screener/screening.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QClipboard>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include "test_images.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <stdexcept>

namespace {

// Shift_JIS pieces of the list file.
const std::string Tosho1 = "\x93\x8c\x8f\xd8\x82\x50\x95\x94"; // 東証１部
const std::string Jasdaq = "JASDAQ";
const std::string Mothers = "\x83\x7d\x83\x55\x81\x5b\x83\x59"; // マザーズ
const std::string Machinery = "\x8b\x40\x8a\x42";               // 機械
const std::string Other = "\x8d\x7a\x8b\xc6";                   // 鉱業
constexpr int MachinerySector = 15;                             // its place in the sector box

// A weekly history as the chain reads it: the cells of VShapedWeeks. With 30 weeks the chart
// has a purchase at 1,095 yen on 2026/06/22, still held; with 24 weeks the signal is on the
// newest week, bought at its close of 1,100 yen.
THistoryRows VShapedRows(int weeks)
{
    THistoryRows rows;
    for (const THistoryCells& cells : VShapedWeeks(weeks))
        rows.push_back({cells.Date, std::stoi(cells.Open), std::stoi(cells.High), std::stoi(cells.Low),
                        std::stoi(cells.Close), std::stoll(cells.Volume)});
    return rows;
}

// What the fake source knows of one stock: its board and its weekly history.
struct FakeStock
{
    QString Name;
    QString Price;
    THistoryRows Weeks;
};

FakeStock Stock(const QString& name, const QString& price, int weeks = 30)
{
    return {name, price, weeks > 0 ? VShapedRows(weeks) : THistoryRows{}};
}

// A chain source that reads a table instead of the network, so the run's own logic is tested.
class TableSource final : public TChartSource
{
public:
    std::map<std::string, FakeStock> Stocks;
    std::vector<std::string> Looked;
    std::string ThrowFor;
    std::function<void(const std::string&)> BeforeLookup;

    TQuoteRead Quote(const std::string& key, const TProcessEvents&, const TCancelled&) override
    {
        if (BeforeLookup)
            BeforeLookup(key);
        Looked.push_back(key);
        TQuoteRead read;
        const auto found = Stocks.find(key);
        if (found == Stocks.end())
        {
            read.Miss = TQuoteMiss::NotFound;
            return read;
        }
        const QString& name = found->second.Name;
        TKabuQuote quote;
        quote.KabuNo = name.left(4).toStdString();
        quote.KabuName = Utf8ToCp932(name.mid(5).toStdString());
        quote.KabuKa = BoardNumber(found->second.Price.toStdString()) * FixedPointOne;
        quote.Zenjitsuhi = 12 * FixedPointOne;
        quote.ZenjitsuhiRate = 12300;
        quote.OpenPrice = 1000 * FixedPointOne;
        quote.HighPrice = 1100 * FixedPointOne;
        quote.LowPrice = 990 * FixedPointOne;
        quote.Dekidaka = 1234500 * FixedPointOne;
        quote.Tani = FixedPointOne;
        quote.KabuTime = "12/07 15:00";
        read.Quote = quote;
        return read;
    }
    THistoryRows History(const std::string& key, TChartPeriod, std::int64_t, const TProcessEvents&,
                         const TCancelled&) override
    {
        if (key == ThrowFor)
            throw std::runtime_error("history figure does not convert");
        return Stocks.at(key).Weeks;
    }
};

class ScreeningTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Folder = std::filesystem::temp_directory_path() /
                 ("orvanta_screening_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::create_directories(Folder);
        Previous = std::filesystem::current_path();
        std::filesystem::current_path(Folder);
    }
    void TearDown() override { std::filesystem::current_path(Previous); }
    void WriteList(const std::string& lines) { std::ofstream(Folder / "KabuList.dat", std::ios::binary) << lines; }
    static std::string Line(const std::string& code, const std::string& market, const std::string& sector)
    {
        return code + ",x," + market + "," + sector + "\r\n";
    }
    void Start(TMainForm& form, int sector)
    {
        form.show();
        form.KabukaSearchWin->trigger();
        form.KabuSearchBox->setCurrentIndex(sector);
        form.KabuSearchButton->click();
    }
    // Lists 6301 (東証, named `first`), 6302 (JASDAQ) and 6304 (マザーズ), each with a purchase.
    void ScreenThreeStocks(TMainForm& form, const QString& first)
    {
        WriteList(Line("6301", Tosho1, Machinery) + Line("6302", Jasdaq, Machinery) + Line("6304", Mothers, Machinery));
        Source.Stocks["6301.t"] = Stock(first, QStringLiteral("  3,000"));
        Source.Stocks["6302.q"] = Stock(QStringLiteral("6302 C"), QStringLiteral("  1,500"));
        Source.Stocks["6304  "] = Stock(QStringLiteral("6304 D"), QStringLiteral("    800"));
        Start(form, MachinerySector);
    }
    std::filesystem::path Folder;
    std::filesystem::path Previous;
    TFakeDialogs Dialogs;
    std::vector<TMessageBoxRequest>& Shown = Dialogs.Shown;
    bool& Shift = Dialogs.Shift;
    TableSource Source;
};

TEST_F(ScreeningTest, ListsStocksWithAPurchaseInListOrder)
{
    WriteList(";list\r\n" + Line("6301", Tosho1, Machinery) + Line("1605", Tosho1, Other) +
              Line("6302", Jasdaq, Machinery) + Line("6303", Tosho1, Machinery) + Line("6304", Mothers, Machinery));
    TMainForm form(Dialogs, &Source);
    form.show();
    form.KabukaSearchWin->trigger();
    form.ChartLengDay->setChecked(true); // the input bar is hidden: the period switch does nothing
    Source.Stocks["6301.t"] = Stock(QStringLiteral("6301 コマツ"), QStringLiteral("  3,000"));
    Source.Stocks["6302.q"] =
        Stock(QStringLiteral("6302 無信号"), QStringLiteral("    500"), 12); // too short for a signal
    Source.Stocks["6304  "] = Stock(QStringLiteral("6304 新興"), QStringLiteral("    800"), 24); // a newest-week signal
    Start(form, MachinerySector);

    EXPECT_EQ(Source.Looked, (std::vector<std::string>{"6301.t", "6302.q", "6303.t", "6304  "}));
    EXPECT_TRUE(form.ChartLengWeek->isChecked()) << "a run always works on weekly charts";
    ASSERT_EQ(form.KabuCodeList->topLevelItemCount(), 2);
    const QTreeWidgetItem* first = form.KabuCodeList->topLevelItem(0);
    EXPECT_EQ(first->text(0), QStringLiteral("6301 コマツ"));
    EXPECT_EQ(first->text(1), QStringLiteral("東証"));
    EXPECT_EQ(first->text(2), QStringLiteral("  3,000円"));
    EXPECT_EQ(first->text(10), QStringLiteral("   1095円"));
    EXPECT_EQ(first->text(11), QStringLiteral("2026/06/22"));
    EXPECT_EQ(first->text(14), QStringLiteral("273%")) << "3,000 x 100 / 1095, truncated";
    EXPECT_EQ(first->text(16), QStringLiteral("継続保有"));
    EXPECT_EQ(form.KabuCodeList->topLevelItem(1)->text(1), QStringLiteral("マザーズ"));
    EXPECT_EQ(form.KabuCodeList->topLevelItem(1)->text(9), QStringLiteral("上昇"));
    EXPECT_TRUE(form.KabuCodeList->selectedItems().isEmpty());
    EXPECT_EQ(form.LabelKabuReadBar->text(), QStringLiteral("100% [   4/   4]"));
    EXPECT_FALSE(form.KabuReadBar->isVisible());
    EXPECT_FALSE(form.LabelKabuReadBar->isVisible());
    EXPECT_TRUE(form.CodePanel->isVisible());
    EXPECT_TRUE(Shown.empty());
    EXPECT_EQ(InputStates(form), std::vector<bool>(7, true));

    // What a reader sees: yellow text on black, grey grid lines between the cells.
    QWidget* viewport = form.KabuCodeList->viewport();
    const QImage shot = viewport->grab().toImage();
    shot.save(TestImagePath("result_list.png"));
    const QRect firstCell = form.KabuCodeList->visualItemRect(form.KabuCodeList->topLevelItem(0));
    EXPECT_EQ(QColor(shot.pixel(firstCell.left() + 119, firstCell.center().y())), QColor(128, 128, 128));
    EXPECT_EQ(QColor(shot.pixel(firstCell.left() + 60, firstCell.bottom())), QColor(128, 128, 128));
    EXPECT_EQ(QColor(shot.pixel(shot.width() - 5, shot.height() - 5)), QColor(0, 0, 0));
    bool yellowText = false;
    for (int x = 0; x < 118 && !yellowText; ++x)
        for (int y = firstCell.top(); y < firstCell.bottom() && !yellowText; ++y)
            yellowText = QColor(shot.pixel(x, y)) == QColor(255, 255, 0);
    EXPECT_TRUE(yellowText);
}

TEST_F(ScreeningTest, ConditionsFilterTheRows)
{
    WriteList(Line("6301", Tosho1, Machinery) + Line("6302", Tosho1, Machinery) + Line("6303", Tosho1, Machinery));
    TMainForm form(Dialogs, &Source);
    Source.Stocks["6301.t"] = Stock(QStringLiteral("6301 A"), QStringLiteral("100,000"));
    Source.Stocks["6302.t"] = Stock(QStringLiteral("6302 B"), QStringLiteral("100,001"), 24); // a newest-week signal
    Source.Stocks["6303.t"] = Stock(QStringLiteral("6303 C"), QStringLiteral("  5,000"), 24);

    form.UnderKabuCheck->setChecked(true);
    Start(form, MachinerySector);
    ASSERT_EQ(form.KabuCodeList->topLevelItemCount(), 2) << "100,000 yen a unit passes, 100,001 does not";
    EXPECT_EQ(form.KabuCodeList->topLevelItem(0)->text(0), QStringLiteral("6301 A"));

    form.UnderKabuCheck->setChecked(false);
    form.HitPutCheck->setChecked(true);
    form.KabuSearchButton->click();
    ASSERT_EQ(form.KabuCodeList->topLevelItemCount(), 2) << "only signals on the newest period";
    EXPECT_EQ(form.KabuCodeList->topLevelItem(0)->text(0), QStringLiteral("6302 B"));
}

TEST_F(ScreeningTest, EmptySectorRangeStopAndShiftSkip)
{
    WriteList(Line("6301", Tosho1, Machinery) + Line("99999", Tosho1, Machinery) + Line("6302", Tosho1, Machinery));
    TMainForm form(Dialogs, &Source);
    Source.Stocks["6301.t"] = Stock(QStringLiteral("6301 A"), QStringLiteral("  3,000"));
    Source.Stocks["6302.t"] = Source.Stocks["6301.t"];
    Start(form, MachinerySector);
    EXPECT_EQ(Source.Looked, std::vector<std::string>{"6301.t"}) << "99999 ends the run";
    EXPECT_EQ(form.KabuCodeList->topLevelItemCount(), 1);

    Shift = true;
    form.KabuSearchButton->click();
    EXPECT_EQ(Source.Looked.size(), 1u) << "Shift screens nothing";
    EXPECT_EQ(form.KabuCodeList->topLevelItemCount(), 1) << "and keeps the rows";
    Shift = false;

    form.KabuSearchBox->setCurrentIndex(2);
    form.KabuSearchButton->click();
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Shown[0].Text, QStringLiteral("該当銘柄がありませんでした。"));
    EXPECT_EQ(Shown[0].Caption, QStringLiteral("情報"));
    EXPECT_EQ(form.KabuCodeList->topLevelItemCount(), 0);
    EXPECT_FALSE(form.KabuReadBar->isVisible());
    EXPECT_EQ(InputStates(form), std::vector<bool>(7, true));
}

TEST_F(ScreeningTest, ErrorsEndTheRunKeepingTheRows)
{
    const QString dataError =
        QStringLiteral("インターネット データ エラー\n理由：株価データフォーマットが変更されたことによるエラーです。");
    WriteList(Line("6301", Tosho1, Machinery) + Line("6302", "?", Machinery) + Line("6303", Tosho1, Machinery));
    TMainForm form(Dialogs, &Source);
    Source.Stocks["6301.t"] = Stock(QStringLiteral("6301 A"), QStringLiteral("  3,000"));
    Source.Stocks["6303.t"] = Source.Stocks["6301.t"];
    Start(form, MachinerySector);
    EXPECT_EQ(Source.Looked, std::vector<std::string>{"6301.t"}) << "an empty entry ends the run";
    EXPECT_EQ(form.KabuCodeList->topLevelItemCount(), 1);
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Shown[0].Text, dataError);
    EXPECT_FALSE(form.KabuReadBar->isVisible());
    EXPECT_FALSE(form.LabelKabuReadBar->isVisible());
    EXPECT_EQ(InputStates(form), std::vector<bool>(7, true));

    Shown.clear();
    WriteList(Line("6301", Tosho1, Machinery) + Line("6303", Tosho1, Machinery));
    Source.ThrowFor = "6303.t";
    form.KabuSearchButton->click();
    EXPECT_EQ(form.KabuCodeList->topLevelItemCount(), 1);
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Shown[0].Text, dataError);

    Shown.clear();
    std::filesystem::remove(Folder / "KabuList.dat");
    form.KabuSearchButton->click();
    ASSERT_EQ(Shown.size(), 1u) << "a missing list file";
    EXPECT_EQ(Shown[0].Text, dataError);
    EXPECT_EQ(InputStates(form), std::vector<bool>(7, true));
}

TEST_F(ScreeningTest, AListBeyondTheLimitSaysSoAndScreensTheFirstEntries)
{
    std::string lines;
    for (int i = 0; i < 5001; ++i)
        lines += Line(std::to_string(1000 + i), Tosho1, Machinery);
    WriteList(lines);
    TMainForm form(Dialogs, &Source);
    Start(form, MachinerySector);
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Shown[0].Caption, QStringLiteral("情報"));
    EXPECT_EQ(Shown[0].Text, QStringLiteral("銘柄一覧が5000件を超えています。先頭の5000件だけを検索します。"));
    EXPECT_EQ(Source.Looked.size(), 5000u);
    EXPECT_EQ(Source.Looked.back(), "5999.t");
    EXPECT_EQ(form.LabelKabuReadBar->text(), QStringLiteral("100% [5000/5000]"));
}

TEST_F(ScreeningTest, ClosingTheWindowStopsBeforeTheNextStock)
{
    WriteList(Line("6301", Tosho1, Machinery) + Line("6302", Tosho1, Machinery));
    TMainForm form(Dialogs, &Source);
    Source.BeforeLookup = [this, &form](const std::string&) {
        if (Source.Looked.empty())
            form.close();
    };
    Start(form, MachinerySector);
    EXPECT_EQ(Source.Looked, std::vector<std::string>{"6301.t"});
    EXPECT_EQ(form.Tag, ClosingTag);
}

TEST_F(ScreeningTest, SortingCopyingAndOpeningRows)
{
    TMainForm form(Dialogs, &Source);
    ScreenThreeStocks(form, QStringLiteral("6301 A,B"));
    ASSERT_EQ(form.KabuCodeList->topLevelItemCount(), 3);
    const auto order = [&](int column) {
        QStringList texts;
        for (int i = 0; i < form.KabuCodeList->topLevelItemCount(); ++i)
            texts << form.KabuCodeList->topLevelItem(i)->text(column);
        return texts;
    };

    form.KabuCodeListColumnClick(2);
    EXPECT_EQ(order(2),
              (QStringList{QStringLiteral("    800円"), QStringLiteral("  1,500円"), QStringLiteral("  3,000円")}))
        << "text order: the blanks of the narrower amount come first";
    EXPECT_EQ(form.KabuCodeListTag, -1);
    form.KabuCodeListColumnClick(0);
    EXPECT_EQ(order(0), (QStringList{QStringLiteral("6304 D"), QStringLiteral("6302 C"), QStringLiteral("6301 A,B")}))
        << "the second sort, on any column, is descending";
    form.KabuCodeListColumnClick(0);
    EXPECT_EQ(order(0).first(), QStringLiteral("6301 A,B"));

    form.KabuCodeList->topLevelItem(0)->setSelected(true);
    form.KabuCodeList->topLevelItem(2)->setSelected(true);
    form.CopyCodeButton->click();
    const QString copied = QGuiApplication::clipboard()->text();
    const QStringList lines = copied.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[2].isEmpty()) << "every line ends with CR LF";
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("6301 A,B,東証,  3000円,")));
    EXPECT_EQ(lines[0].count(QLatin1Char(',')), 21) << "21 fields plus the comma kept in the caption";
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("6304 D,マザーズ,    800円,")));

    form.KabuCodeList->clearSelection();
    form.CopyCodeButton->click();
    EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());

    Source.Looked.clear();
    form.KabuCodeListDblClick();
    EXPECT_TRUE(Source.Looked.empty()) << "no row selected, nothing opened";
    form.KabuCodeList->topLevelItem(2)->setSelected(true);
    form.KabuCodeList->topLevelItem(1)->setSelected(true);
    form.KabuCodeListDblClick();
    EXPECT_EQ(Source.Looked, std::vector<std::string>{"6302.q"}) << "the first selected row, JASDAQ as .q";
    EXPECT_FALSE(form.CodePanel->isVisible());
    form.KabuCodeList->clearSelection();
    form.KabuCodeList->topLevelItem(2)->setSelected(true);
    form.KabuCodeListDblClick();
    EXPECT_EQ(Source.Looked.back(), "6304  ") << "a マザーズ row opens with the blank suffix";
}

// Regression: every return to the chart view connected the list's handlers once more, so
// after a trip through the views one header click sorted twice (the order stopped
// alternating), one double-click ran the lookup chain twice and one copy ran twice.
TEST_F(ScreeningTest, ListHandlersRunOnceAfterViewSwitches)
{
    TMainForm form(Dialogs, &Source);
    ScreenThreeStocks(form, QStringLiteral("6301 A"));
    ASSERT_EQ(form.KabuCodeList->topLevelItemCount(), 3);
    // Three trips: one through the Close buttons, two through the menu.
    QTest::mouseClick(form.CloseCodeButton, Qt::LeftButton);
    QTest::mouseClick(form.CloseKabuButton, Qt::LeftButton);
    for (int trip = 0; trip < 2; ++trip)
    {
        form.KabukaChartWin->trigger();
        form.KabukaSearchWin->trigger();
    }
    ASSERT_TRUE(form.KabuCodeList->isVisible());

    QHeaderView* header = form.KabuCodeList->header();
    const auto clickHeader = [&](int column) {
        const QPoint middle(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                            header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, middle);
    };
    const auto firstCaption = [&] { return form.KabuCodeList->topLevelItem(0)->text(0); };
    clickHeader(0);
    EXPECT_EQ(firstCaption(), QStringLiteral("6301 A")) << "one ascending sort";
    EXPECT_EQ(form.KabuCodeListTag, -1);
    clickHeader(0);
    EXPECT_EQ(firstCaption(), QStringLiteral("6304 D")) << "then one descending sort";
    EXPECT_EQ(form.KabuCodeListTag, 1);

    Source.Looked.clear();
    QTreeWidgetItem* row = form.KabuCodeList->topLevelItem(1);
    // A user's double-click: press and release, then the second press and its release.
    const QPoint centre = form.KabuCodeList->visualItemRect(row).center();
    QTest::mouseClick(form.KabuCodeList->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(form.KabuCodeList->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseRelease(form.KabuCodeList->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(Source.Looked, std::vector<std::string>{"6302.q"}) << "one lookup chain per double-click";

    form.KabukaSearchWin->trigger();
    form.KabuCodeList->topLevelItem(0)->setSelected(true);
    QSignalSpy copies(QGuiApplication::clipboard(), &QClipboard::dataChanged);
    QTest::mouseClick(form.CopyCodeButton, Qt::LeftButton);
    EXPECT_EQ(copies.count(), 1) << "one copy per click";
}

// Counts the paints of a widget.
class PaintCounter : public QObject
{
public:
    int Paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++Paints;
        return false;
    }
};

// Regression: a row listed less than a frame after the previous paint switched the list's
// painting off until the next listed row, so a row followed by a long stretch of stocks
// without a hit stayed invisible, and clicks meanwhile were not painted either.
TEST_F(ScreeningTest, TheNewestRowIsPaintedDuringALongStretchWithoutHits)
{
    WriteList(Line("6301", Tosho1, Machinery) + Line("6302", Tosho1, Machinery));
    TMainForm form(Dialogs, &Source);
    Source.Stocks["6301.t"] = Stock(QStringLiteral("6301 A"), QStringLiteral("  3,000"));
    PaintCounter counter;
    int paintsAtRow = -1;
    bool paintedDuringStretch = false;
    bool paintingOn = false;
    // The second stock takes long to fetch: the window keeps handling its events meanwhile.
    Source.BeforeLookup = [&](const std::string& key) {
        if (key != "6302.t")
            return;
        paintsAtRow = counter.Paints;
        QElapsedTimer clock;
        clock.start();
        while (counter.Paints == paintsAtRow && clock.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        paintedDuringStretch = counter.Paints > paintsAtRow;
        // The progress display, paced with the list, is painted again as well.
        paintingOn = form.KabuCodeList->updatesEnabled() && form.KabuReadBar->updatesEnabled() &&
                     form.LabelKabuReadBar->updatesEnabled();
    };
    form.show();
    form.KabukaSearchWin->trigger();
    form.KabuCodeList->viewport()->installEventFilter(&counter);
    form.KabuSearchBox->setCurrentIndex(MachinerySector);
    QTest::mouseClick(form.KabuSearchButton, Qt::LeftButton);
    ASSERT_EQ(form.KabuCodeList->topLevelItemCount(), 1);
    EXPECT_TRUE(paintedDuringStretch) << "the row of 6301 is painted while 6302 loads";
    EXPECT_TRUE(paintingOn);
    EXPECT_TRUE(form.KabuCodeList->updatesEnabled());
}

// What the list shows whenever it is painted during a run: every row found so far, the newest
// scrolled into view and current, no row selected.
class NewestRowCheck : public QObject
{
public:
    NewestRowCheck(QTreeWidget* list, std::function<int()> found) : List(list), Found(std::move(found)) {}
    int Paints = 0;
    int Wrong = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || List->topLevelItemCount() == 0)
            return false;
        ++Paints;
        QTreeWidgetItem* newest = List->topLevelItem(List->topLevelItemCount() - 1);
        const QRect row = List->visualItemRect(newest);
        // The stock under way may have been noted without its row added yet.
        const int rows = List->topLevelItemCount();
        if (rows < Found() - 1 || rows > Found() || List->currentItem() != newest || !List->selectedItems().isEmpty() ||
            row.isEmpty() || !List->viewport()->rect().contains(row))
            ++Wrong;
        return false;
    }

private:
    QTreeWidget* List;
    std::function<int()> Found; // the rows the run has found so far
};

TEST_F(ScreeningTest, EveryFrameOfARunShowsTheNewestRowInView)
{
    constexpr int Count = 120; // far more rows than the list shows at once
    std::string lines;
    TMainForm form(Dialogs, &Source);
    for (int i = 0; i < Count; ++i)
    {
        const std::string code = std::to_string(6301 + i);
        lines += Line(code, Tosho1, Machinery);
        Source.Stocks[code + ".t"] = Stock(QString::fromStdString(code + " A"), QStringLiteral("  3,000"));
    }
    WriteList(lines);
    // Each stock takes a few milliseconds, so a run paints many frames between its rows.
    Source.BeforeLookup = [](const std::string&) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 3)
            QCoreApplication::processEvents();
    };
    form.show();
    form.KabukaSearchWin->trigger();
    // Every stock is listed.
    NewestRowCheck check(form.KabuCodeList, [this] { return static_cast<int>(Source.Looked.size()); });
    form.KabuCodeList->viewport()->installEventFilter(&check);
    form.KabuSearchBox->setCurrentIndex(MachinerySector);
    QTest::mouseClick(form.KabuSearchButton, Qt::LeftButton);
    ASSERT_EQ(form.KabuCodeList->topLevelItemCount(), Count);
    EXPECT_GT(check.Paints, 3);
    EXPECT_EQ(check.Wrong, 0) << "of " << check.Paints << " paints";

    // And once the run is over, whatever frame it ended between.
    QTreeWidgetItem* last = form.KabuCodeList->topLevelItem(Count - 1);
    EXPECT_EQ(form.KabuCodeList->currentItem(), last);
    EXPECT_TRUE(form.KabuCodeList->selectedItems().isEmpty());
    EXPECT_TRUE(form.KabuCodeList->viewport()->rect().contains(form.KabuCodeList->visualItemRect(last)));
}

} // namespace
