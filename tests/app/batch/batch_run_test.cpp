// The unattended screening run and the window's report menu items, against a loopback
// finance service: the files must say what the window lists.

#include "../form_service_test.h"
#include "common/service_contract.h"

#include "app/batch/batch_run.h"
#include "app/commands/report_commands.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTest>
#include <QLabel>
#include <QTreeWidget>

#include <unistd.h>

#include <map>

namespace {

const std::string Tosho1 = "\x93\x8c\x8f\xd8\x82\x50\x95\x94"; // 東証１部
const std::string Machinery = "\x8b\x40\x8a\x42";              // 機械
constexpr int MachinerySector = 15;

std::string ListLine(int code)
{
    return std::to_string(code) + ",x," + Tosho1 + "," + Machinery + "\r\n";
}

std::vector<THistoryCells> FlatWeeks()
{
    std::vector<THistoryCells> rows;
    for (int i = 29; i >= 0; --i)
        rows.push_back({WeekDate2026(i), "1000", "1000", "1000", "1000", "50000"});
    return rows;
}

// Weeks of the given closes, oldest first, opening and ranging 5 yen around the close.
std::vector<THistoryCells> WeeksOfCloses(const std::vector<int>& closes)
{
    std::vector<THistoryCells> rows;
    const int count = static_cast<int>(closes.size());
    for (int i = count - 1; i >= 0; --i)
    {
        const int close = closes[static_cast<std::size_t>(count - 1 - i)];
        rows.push_back({WeekDate2026(i), std::to_string(close), std::to_string(close), std::to_string(close + 5),
                        std::to_string(close - 5), "50000"});
    }
    return rows;
}

// Worked by hand from the RSI rule (G = gain * 10000 / P, L = |loss * 100 / P|, t = G / L,
// RSI = 100t / (t + 100)): the 7- and 13-week RSI of the newest week are both exactly 30
// (short: gain 41, loss -91, t = 45; long: gain 101, loss -231, t = 43), and in no other
// week are both at 30 or less; the short line is at 30 or less in weeks 23 to 25 and 28.
const std::vector<int> RsiAtThirtyCloses = {1000, 990,  980,  1000, 970,  980,  990,  980,  960,  980,
                                            1000, 1000, 1020, 1040, 1020, 1040, 1050, 1040, 1010, 1020,
                                            1030, 1040, 1010, 980,  960,  950,  970,  980,  980,  970};
// The 7-week RSI falls to 30 or less six times, the 13-week one never (its least is 31, week
// 27): never both.
const std::vector<int> ShortRsiOnlyCloses = {1000, 980,  980, 980, 1000, 970,  990,  970,  990,  1010,
                                             990,  990,  980, 990, 1010, 1010, 1020, 1020, 1030, 1050,
                                             1030, 1000, 990, 960, 980,  970,  950,  940,  960,  970};

// 取引は成立していません, EUC-JP
const std::string NoTradeEuc =
    "\xbc\xe8\xb0\xfa\xa4\xcf\xc0\xae\xce\xa9\xa4\xb7\xa4\xc6\xa4\xa4\xa4\xde\xa4\xbb\xa4\xf3";

// One cell list per CSV line, the byte-order mark and the CR LF ends removed.
std::vector<QStringList> ParseCsv(const QByteArray& bytes)
{
    std::vector<QStringList> lines;
    const QString text = QString::fromUtf8(bytes.startsWith("\xef\xbb\xbf") ? bytes.mid(3) : bytes);
    for (const QString& line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
    {
        QStringList cells{QString()};
        bool quoted = false;
        for (qsizetype i = 0; i < line.size(); ++i)
        {
            const QChar c = line[i];
            if (quoted && c == u'"' && i + 1 < line.size() && line[i + 1] == u'"')
                cells.last() += line[++i];
            else if (c == u'"')
                quoted = !quoted;
            else if (c == u',' && !quoted)
                cells.append(QString());
            else
                cells.last() += c;
        }
        lines.push_back(cells);
    }
    return lines;
}

std::vector<QStringList> ListRows(const TMainForm& form)
{
    std::vector<QStringList> rows;
    QStringList captions;
    for (int column = 0; column < form.KabuCodeList->columnCount(); ++column)
        captions.append(form.KabuCodeList->headerItem()->text(column));
    rows.push_back(captions);
    for (int i = 0; i < form.KabuCodeList->topLevelItemCount(); ++i)
    {
        QStringList cells;
        for (int column = 0; column < form.KabuCodeList->columnCount(); ++column)
            cells.append(form.KabuCodeList->topLevelItem(i)->text(column));
        rows.push_back(cells);
    }
    return rows;
}

QByteArray FileBytes(const QString& file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

QJsonObject Summary(const QString& folder)
{
    return QJsonDocument::fromJson(FileBytes(folder + QStringLiteral("/summary.json"))).object();
}

// Six stocks of 機械 and fourteen more: 6301 and 6302 have a purchase in their chart, 6303 has
// none, 6304 is not found, 6305's page is too short, 6306 answers with nothing, 6311's page
// names another stock, 6313's page has no footer, 6314 had no trade, and the service does not
// know 6312 or 6315 to 6324. Outside the list: 6307 to 6309 have no purchase, 6307's RSI lines
// reach 30 together, 6308's only one at a time, 6309 has no history; 6310's name holds
// control codes; 6325 has 6301's chart at a price of 100,001 yen.
class BatchRunTest : public TFormServiceTest
{
protected:
    void SetUp() override
    {
        TFormServiceTest::SetUp();
        std::string list;
        for (int code = 6301; code <= 6306; ++code)
            list += ListLine(code);
        for (int code = 6311; code <= 6324; ++code)
            list += ListLine(code);
        WriteFileBytes("KabuList.dat", list);
        Console.Write = [this](const QString& text) { Written += text; };
        Options.Sector = QStringLiteral("機械");
        Options.OutDir = QStringLiteral("reports/today");
    }
    void AddRoutes(httplib::Server& routes) override
    {
        routes.Get(QuoteRoute, [](const httplib::Request& request, httplib::Response& response) {
            const std::string key = request.get_param_value("qt");
            TQuotePageFields fields;
            fields.Code = key.substr(0, 4);
            if (key == "6306.t")
                return; // an answer without a byte
            if (key == "6311.t")
                fields.Code = "7203";
            if (key == "6313.t")
                fields.Footer = false;
            if (key == "6310.t")
                fields.NameEuc = "\x1b]0;pwned\x07\norvanta: forged\x7f";
            if (key == "6325.t")
                fields.Price = "100,001";
            const bool known = key == "6301.t" || key == "6302.t" || key == "6303.t" || key == "6305.t" ||
                               key == "6311.t" || key == "6313.t" || (key >= "6307.t" && key <= "6310.t") ||
                               key == "6325.t";
            if (key == "6314.t")
                fields.TitleNoticeEuc = NoTradeEuc;
            else if (!known)
                fields.TitleNoticeEuc = NotFoundEuc;
            response.set_content(QuotePage(fields, key == "6305.t" ? 12000 : 16000), "text/html; charset=EUC-JP");
        });
        routes.Get(HistoryRoute, [](const httplib::Request& request, httplib::Response& response) {
            const std::string key = request.get_param_value("qt");
            const auto weeks = key == "6301.t" || key == "6325.t" ? VShapedWeeks(30)
                               : key == "6302.t"                  ? VShapedWeeks(34)
                               : key == "6307.t"                  ? WeeksOfCloses(RsiAtThirtyCloses)
                               : key == "6308.t"                  ? WeeksOfCloses(ShortRsiOnlyCloses)
                               : key == "6309.t"                  ? std::vector<THistoryCells>{}
                                                                  : FlatWeeks();
            response.set_content(HistoryPage(weeks, 20000), "text/html; charset=EUC-JP");
        });
    }

    TBatchConsole Console;
    QString Written;
    TBatchOptions Options;
};

TEST_F(BatchRunTest, WritesWhatTheWindowListsForTheSameRun)
{
    TBatchRun batch(Options, Console);
    ASSERT_EQ(batch.Run(), 0) << Written.toStdString();
    EXPECT_FALSE(batch.Form.isVisible()) << "the form is never shown";
    EXPECT_TRUE(Shown.empty()) << "no message box reaches a window";

    const QString out = QStringLiteral("reports/today");
    const std::vector<QStringList> csv = ParseCsv(FileBytes(out + QStringLiteral("/result.csv")));
    ASSERT_EQ(csv.size(), 3u) << "the captions and the two stocks with a purchase";
    EXPECT_EQ(csv, ListRows(batch.Form)) << "every cell as the run's list shows it";
    EXPECT_EQ(csv[1][0], QStringLiteral("6301 キヤノン"));
    EXPECT_EQ(csv[2][0], QStringLiteral("6302 キヤノン"));

    const QJsonObject summary = Summary(out);
    EXPECT_EQ(summary[QStringLiteral("sector")].toString(), QStringLiteral("機械"));
    EXPECT_EQ(summary[QStringLiteral("entries")].toInt(), 20);
    EXPECT_EQ(summary[QStringLiteral("screened")].toInt(), 3);
    EXPECT_EQ(summary[QStringLiteral("listed")].toInt(), 2);
    EXPECT_EQ(summary[QStringLiteral("outcomes")].toObject()[QStringLiteral("held")].toInt(), 2);
    EXPECT_TRUE(summary[QStringLiteral("closed_win_rate")].isNull());
    EXPECT_EQ(summary[QStringLiteral("ended")].toString(), QStringLiteral("completed"));
    const QJsonArray skipped = summary[QStringLiteral("skipped")].toArray();
    ASSERT_EQ(skipped.size(), 17);
    const auto skip = [&skipped](int i, const char* field) {
        return skipped[i].toObject()[QLatin1String(field)].toVariant().toString();
    };
    EXPECT_EQ(skip(0, "code"), QStringLiteral("6304"));
    EXPECT_EQ(skip(0, "market"), QStringLiteral("東証"));
    EXPECT_EQ(skip(0, "reason"), QStringLiteral("not-found page"));
    EXPECT_EQ(skip(1, "code"), QStringLiteral("6305"));
    EXPECT_EQ(skip(1, "reason"), QStringLiteral("page size"));
    EXPECT_EQ(skip(1, "page_bytes"), QStringLiteral("12000"));
    EXPECT_EQ(skip(2, "code"), QStringLiteral("6306"));
    EXPECT_EQ(skip(2, "reason"), QStringLiteral("no answer"));
    EXPECT_EQ(skip(3, "code"), QStringLiteral("6311"));
    EXPECT_EQ(skip(3, "reason"), QStringLiteral("other stock's page"));
    EXPECT_EQ(skip(16, "code"), QStringLiteral("6324"));
    const QJsonObject pages = summary[QStringLiteral("pages")].toObject();
    EXPECT_EQ(pages[QStringLiteral("fetched")].toInt(), 22)
        << "three stocks' two pages, one quote page each of 16; 6306's never came";
    EXPECT_EQ(pages[QStringLiteral("from_cache")].toInt(), 0);

    const QString html = QString::fromUtf8(FileBytes(out + QStringLiteral("/report.html")));
    EXPECT_TRUE(html.contains(QStringLiteral("<td class=\"l\">6302 キヤノン</td>")));
    EXPECT_LT(html.indexOf(QStringLiteral("charts/0001.png")), html.indexOf(QStringLiteral("charts/0002.png")));
    EXPECT_TRUE(
        html.contains(QStringLiteral("<td>6305</td><td>x</td><td>東証</td><td>ページの大きさが 12,000 バイトです")));

    // Progress in a log: a line for each tenth of the list, the stock's code and name.
    const QStringList lines = Written.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 11) << Written.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral(" 10% [   2/  20] 6302 キヤノン"));
    EXPECT_EQ(lines[1], QStringLiteral(" 20% [   4/  20] 6304")) << "no quote: the code alone";
    EXPECT_EQ(lines[9], QStringLiteral("100% [  20/  20] 6324"));
    EXPECT_TRUE(
        lines[10].startsWith(QStringLiteral("orvanta: 機械: 一覧 20 銘柄、株価を読んだ 3、該当 2、読めなかった 17。")))
        << lines[10].toStdString();
    EXPECT_FALSE(Written.contains(u'\r'));

    // The window's own run of the same sector, the same day: the same rows, every page from
    // today's cache but the one that never came.
    TMainForm window(Dialogs);
    window.show();
    window.KabukaSearchWin->trigger();
    window.KabuSearchBox->setCurrentIndex(MachinerySector);
    QTest::mouseClick(window.KabuSearchButton, Qt::LeftButton);
    EXPECT_EQ(ListRows(window), csv);
    EXPECT_EQ(window.LastRun->Pages.Fetched, 0) << "6306 is asked for again and brings nothing";
    EXPECT_EQ(window.LastRun->Pages.FromCache, 22);

    // The report's chart of a row is the chart the window draws for that stock.
    for (int row = 0; row < 2; ++row)
    {
        SCOPED_TRACE(row);
        window.KabukaSearchWin->trigger();
        const QPoint centre = window.KabuCodeList->visualItemRect(window.KabuCodeList->topLevelItem(row)).center();
        QTest::mouseClick(window.KabuCodeList->viewport(), Qt::LeftButton, {}, centre);
        QTest::mouseDClick(window.KabuCodeList->viewport(), Qt::LeftButton, {}, centre);
        const QImage chart(out + QStringLiteral("/charts/000%1.png").arg(row + 1));
        ASSERT_EQ(chart.size(), QSize(648, 429));
        EXPECT_EQ(chart.convertToFormat(QImage::Format_RGB32), window.ChartPane->ChartPanelImage());
    }
}

// A preferred share's row said "6758", the code of the ordinary share, and opening it showed
// that share: a row names the served code and opens the code up to its first blank.
class ServedCodeTest : public TFormServiceTest
{
protected:
    void SetUp() override
    {
        TFormServiceTest::SetUp();
        WriteFileBytes("KabuList.dat", ListLine(67585) + "130A,x," + Tosho1 + "," + Machinery + "\r\n");
    }
    void AddRoutes(httplib::Server& routes) override
    {
        routes.Get(QuoteRoute, [](const httplib::Request& request, httplib::Response& response) {
            TQuotePageFields fields;
            fields.Code = request.get_param_value("qt").substr(0, request.get_param_value("qt").find('.'));
            response.set_content(QuotePage(fields), "text/html; charset=EUC-JP");
        });
        routes.Get(HistoryRoute, [](const httplib::Request&, httplib::Response& response) {
            response.set_content(HistoryPage(VShapedWeeks(30), 20000), "text/html; charset=EUC-JP");
        });
    }
};

TEST_F(ServedCodeTest, RowsNameAndOpenTheServedCode)
{
    TBatchConsole console;
    console.Write = [](const QString&) {};
    TBatchOptions options;
    options.Sector = QStringLiteral("機械");
    options.OutDir = QStringLiteral("out");
    TBatchRun batch(options, console);
    ASSERT_EQ(batch.Run(), 0);
    const std::vector<QStringList> csv = ParseCsv(FileBytes(QStringLiteral("out/result.csv")));
    ASSERT_EQ(csv.size(), 3u);
    EXPECT_EQ(csv[1][0], QStringLiteral("67585 キヤノン"));
    EXPECT_EQ(csv[2][0], QStringLiteral("130A キヤノン"));

    TMainForm window(Dialogs);
    window.show();
    window.KabukaSearchWin->trigger();
    window.KabuSearchBox->setCurrentIndex(MachinerySector);
    QTest::mouseClick(window.KabuSearchButton, Qt::LeftButton);
    ASSERT_EQ(ListRows(window), csv);
    const struct
    {
        int Row;
        std::string Key;
        QString Board;
    } rows[] = {
        {0, "67585.t", QStringLiteral("67585 キヤノン")},
        {1, "130A.t", QStringLiteral("130A キヤノン")},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Key);
        window.KabukaSearchWin->trigger();
        const QPoint centre = window.KabuCodeList->visualItemRect(window.KabuCodeList->topLevelItem(row.Row)).center();
        QTest::mouseClick(window.KabuCodeList->viewport(), Qt::LeftButton, {}, centre);
        QTest::mouseDClick(window.KabuCodeList->viewport(), Qt::LeftButton, {}, centre);
        EXPECT_EQ(window.ChartPane->ChartCode, row.Key);
        EXPECT_EQ(window.ChartPane->LabelKabuNo->text(), row.Board);
    }
}

TEST_F(BatchRunTest, ASecondRunTheSameDayReadsEveryPageFromTheCache)
{
    TBatchRun first(Options, Console);
    ASSERT_EQ(first.Run(), 0);
    Written.clear();
    Console.Terminal = true;
    TBatchRun second(Options, Console);
    ASSERT_EQ(second.Run(), 0);

    const QJsonObject pages = Summary(Options.OutDir)[QStringLiteral("pages")].toObject();
    EXPECT_EQ(pages[QStringLiteral("fetched")].toInt(), 0) << "only the page that never came is asked for again";
    EXPECT_EQ(pages[QStringLiteral("from_cache")].toInt(), 22);
    // On a terminal: one line rewritten in place for every stock, ended before the last words.
    EXPECT_EQ(Written.count(u'\r'), 20);
    EXPECT_TRUE(Written.startsWith(QStringLiteral("\r  5% [   1/  20] 6301 キヤノン\x1b[K\r")));
    EXPECT_TRUE(Written.contains(QStringLiteral("100% [  20/  20] 6324\x1b[K\norvanta: 機械:")));
}

TEST_F(BatchRunTest, ADataErrorEndsTheRunAndTheRowsSoFarAreWritten)
{
    // A line of an unknown market is an empty entry: its code does not convert.
    WriteFileBytes("KabuList.dat", ListLine(6301) + "6399,x,Tosho3," + Machinery + "\r\n" + ListLine(6302));
    TBatchRun batch(Options, Console);
    EXPECT_EQ(batch.Run(), 2);

    EXPECT_EQ(ParseCsv(FileBytes(Options.OutDir + QStringLiteral("/result.csv"))).size(), 2u) << "6301 and no more";
    const QString ended = Summary(Options.OutDir)[QStringLiteral("ended")].toString();
    EXPECT_TRUE(ended.startsWith(QStringLiteral("data error: "))) << ended.toStdString();
    EXPECT_TRUE(Written.contains(QStringLiteral("orvanta: データエラーで検索が止まりました: ") +
                                 ended.mid(QStringLiteral("data error: ").size()) + u'\n'));
    EXPECT_TRUE(QString::fromUtf8(FileBytes(Options.OutDir + QStringLiteral("/report.html")))
                    .contains(QStringLiteral("データエラーで検索が止まりました")));

    // Without a list nothing is screened, and the report says why.
    std::filesystem::remove("KabuList.dat");
    TBatchRun second(Options, Console);
    EXPECT_EQ(second.Run(), 2);
    EXPECT_EQ(ParseCsv(FileBytes(Options.OutDir + QStringLiteral("/result.csv"))).size(), 1u) << "the captions";
    EXPECT_TRUE(Summary(Options.OutDir)[QStringLiteral("ended")].toString().contains(QStringLiteral("KabuList.dat")));
}

// The RSI condition, ticked: a stock is listed when both weekly RSI lines reach 30 or less in
// the same week, whether or not it had a purchase.
TEST_F(BatchRunTest, TheRsiConditionListsAStockWhenBothWeeklyLinesReachThirty)
{
    std::string list;
    for (const int code : {6301, 6303, 6307, 6308, 6309})
        list += ListLine(code);
    WriteFileBytes("KabuList.dat", list);
    const auto listed = [](const TMainForm& form) {
        std::map<QString, QString> rows; // code, recommendation
        for (int i = 0; i < form.KabuCodeList->topLevelItemCount(); ++i)
            rows[form.KabuCodeList->topLevelItem(i)->text(0).left(4)] = form.KabuCodeList->topLevelItem(i)->text(9);
        return rows;
    };

    TBatchRun plain(Options, Console);
    ASSERT_EQ(plain.Run(), 0) << Written.toStdString();
    EXPECT_EQ(listed(plain.Form).count(QStringLiteral("6307")), 0u) << "no purchase: listed only by the condition";
    EXPECT_EQ(listed(plain.Form).size(), 1u);

    Options.Rsi30 = true;
    TBatchRun rsi(Options, Console);
    ASSERT_EQ(rsi.Run(), 0) << Written.toStdString();
    const std::map<QString, QString> rows = listed(rsi.Form);
    // Not 6303 (flat: 50 and 52), not 6308 (never both at once), not 6309 (no week at all).
    EXPECT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows.count(QStringLiteral("6307")), 1u) << "both lines at exactly 30";
    EXPECT_EQ(rows.at(QStringLiteral("6307")), QStringLiteral("RSI"));
    EXPECT_EQ(rows.count(QStringLiteral("6301")), 1u);
    const QJsonObject summary = Summary(Options.OutDir);
    EXPECT_EQ(summary[QStringLiteral("listed")].toInt(), 2);
    EXPECT_EQ(summary[QStringLiteral("not_listed")].toObject()[QStringLiteral("no_purchase")].toInt(), 3);
    const std::vector<QStringList> csv = ParseCsv(FileBytes(Options.OutDir + QStringLiteral("/result.csv")));
    EXPECT_EQ(csv, ListRows(rsi.Form));
}

// Each stock read but not listed is counted under the first condition that left it out.
TEST_F(BatchRunTest, TheConditionsCountTheStocksTheyLeaveOut)
{
    WriteFileBytes("KabuList.dat", ListLine(6301) + ListLine(6303) + ListLine(6325));
    Options.HitsOnly = true;
    Options.Under100k = true;
    TBatchRun batch(Options, Console);
    ASSERT_EQ(batch.Run(), 0) << Written.toStdString();
    const QJsonObject summary = Summary(Options.OutDir);
    EXPECT_EQ(summary[QStringLiteral("listed")].toInt(), 0);
    const QJsonObject notListed = summary[QStringLiteral("not_listed")].toObject();
    EXPECT_EQ(notListed[QStringLiteral("no_purchase")].toInt(), 1) << "6303";
    EXPECT_EQ(notListed[QStringLiteral("over_100k")].toInt(), 1) << "6325, one yen over";
    EXPECT_EQ(notListed[QStringLiteral("no_newest_signal")].toInt(), 1) << "6301: its purchase is weeks old";
    EXPECT_TRUE(QString::fromUtf8(FileBytes(Options.OutDir + QStringLiteral("/report.html")))
                    .contains(QStringLiteral("株価を読んで該当しなかった銘柄: 3 銘柄（買いシグナルによる購入なし 1、"
                                             "10万円超 1、最新週にシグナルなし 1）")));
}

TEST_F(BatchRunTest, EverySkipReasonIsNamedInTheSummaryAndTheReport)
{
    std::string list;
    for (const int code : {6304, 6305, 6306, 6311, 6312, 6313, 6314})
        list += ListLine(code);
    WriteFileBytes("KabuList.dat", list);
    WriteFileBytes("dat/k6312.t.00", ""); // today's copy, empty
    TBatchRun batch(Options, Console);
    ASSERT_EQ(batch.Run(), 0) << "pages came: a run with every stock skipped";

    const struct
    {
        const char* Code;
        const char* Token;
        const char* Words;
    } reasons[] = {
        {"6304", "not-found page", "銘柄が見つかりませんでした"},
        {"6305", "page size", "ページの大きさが 12,000 バイトです（13,000～45,000 バイトのみ読みます）"},
        {"6306", "no answer", "サービスから応答がありません"},
        {"6311", "other stock's page", "ページが別の銘柄のものです"},
        {"6312", "empty page", "ページが空です"},
        {"6313", "no footer", "株価ページの終わりの目印がありません"},
        {"6314", "no trades", "取引が成立していません"},
    };
    const QJsonArray skipped = Summary(Options.OutDir)[QStringLiteral("skipped")].toArray();
    ASSERT_EQ(skipped.size(), static_cast<qsizetype>(std::size(reasons)));
    const QString html = QString::fromUtf8(FileBytes(Options.OutDir + QStringLiteral("/report.html")));
    for (std::size_t i = 0; i < std::size(reasons); ++i)
    {
        SCOPED_TRACE(reasons[i].Code);
        const QJsonObject entry = skipped[static_cast<qsizetype>(i)].toObject();
        EXPECT_EQ(entry[QStringLiteral("code")].toString(), QLatin1String(reasons[i].Code));
        EXPECT_EQ(entry[QStringLiteral("name")].toString(), QStringLiteral("x"));
        EXPECT_EQ(entry[QStringLiteral("reason")].toString(), QLatin1String(reasons[i].Token));
        EXPECT_TRUE(html.contains(
            QStringLiteral("<tr><td>%1</td><td>x</td><td>東証</td><td>").arg(QLatin1String(reasons[i].Code)) +
            QString::fromUtf8(reasons[i].Words) + QStringLiteral("</td></tr>")));
    }
}

TEST_F(BatchRunTest, ControlCodesFromAPageAreShownEscapedInTheLog)
{
    WriteFileBytes("KabuList.dat", ListLine(6310));
    TBatchRun batch(Options, Console);
    ASSERT_EQ(batch.Run(), 0) << Written.toStdString();
    const QStringList lines = Written.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << "the progress line and the last words; no forged line";
    EXPECT_EQ(lines[0], QStringLiteral("100% [   1/   1] 6310 \\x1b]0;pwned\\x07\\x0aorvanta: forged\\x7f"));
    for (const QChar c : Written)
        EXPECT_TRUE(c == u'\n' || c.unicode() >= 0x20) << "a control code reached the log";
    // The window shows the name as the page gives it.
    EXPECT_TRUE(batch.Form.ChartPane->LabelKabuNo->text().contains(QStringLiteral("\x1b]0;pwned")));
}

TEST_F(BatchRunTest, AReportThatCannotBeWrittenEndsWithTwoAndItsReason)
{
    // summary.json taken by a folder: the run goes ahead, its report fails at the end.
    ASSERT_TRUE(QDir().mkpath(Options.OutDir + QStringLiteral("/summary.json")));
    TBatchRun batch(Options, Console);
    EXPECT_EQ(batch.Run(), 2);
    EXPECT_TRUE(Written.contains(QStringLiteral("orvanta: レポートを書けませんでした: 書き込めません: ")))
        << Written.toStdString();
    EXPECT_TRUE(Written.contains(QStringLiteral("summary.json"))) << Written.toStdString();
    EXPECT_FALSE(Server.Log().empty()) << "the run went ahead";
}

TEST_F(BatchRunTest, AnOutFolderThatCannotBeWrittenIsRefusedBeforeTheFirstPage)
{
    std::vector<QString> folders{QStringLiteral("/proc/1")}; // not writable, even by root
    if (::geteuid() != 0)
    {
        ASSERT_TRUE(QDir().mkpath(QStringLiteral("locked")));
        std::filesystem::permissions("locked", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        folders.push_back(QStringLiteral("locked"));
    }
    for (const QString& folder : folders)
    {
        SCOPED_TRACE(folder.toStdString());
        Written.clear();
        Options.OutDir = folder;
        TBatchRun batch(Options, Console);
        EXPECT_EQ(batch.Run(), UsageStatus);
        EXPECT_TRUE(Written.startsWith(QStringLiteral("orvanta: レポートのフォルダ \"") + folder +
                                       QStringLiteral("\" に書き込めません")))
            << Written.toStdString();
        EXPECT_EQ(Written.count(u'\n'), 1);
        EXPECT_TRUE(Server.Log().empty()) << "no page is asked for";
    }
}

// The menu items hand the last run to the same writer; they wait for a run to end.
TEST_F(BatchRunTest, TheWindowSavesAndSumsUpItsLastRunThroughTheMenu)
{
    TMainForm form(Dialogs);
    form.show();
    form.KabukaSearchWin->trigger();
    const auto enabled = [&form] {
        return std::vector<bool>{form.SaveResult1->isEnabled(), form.SearchSummary1->isEnabled(),
                                 form.SaveChartImage1->isEnabled()};
    };
    EXPECT_EQ(enabled(), (std::vector<bool>{false, false, false})) << "nothing to save yet";
    std::vector<std::vector<bool>> duringRun;
    QObject::connect(&form, &TMainForm::ScreeningProgress, &form, [&] { duringRun.push_back(enabled()); });
    const std::vector<TFileDialogRequest>& asked = Dialogs.Asked;
    QString answer;
    Dialogs.AnswerPath = [&](const TFileDialogRequest&) { return answer; };

    form.KabuSearchBox->setCurrentIndex(MachinerySector);
    QTest::mouseClick(form.KabuSearchButton, Qt::LeftButton);
    ASSERT_EQ(duringRun.size(), 20u);
    for (const std::vector<bool>& states : duringRun)
        EXPECT_EQ(states, (std::vector<bool>{false, false, false})) << "disabled during the run";
    EXPECT_EQ(enabled(), (std::vector<bool>{true, true, true}));

    // Sorted since: the rows go in the list's order, each with its own chart.
    QHeaderView* header = form.KabuCodeList->header();
    const QPoint firstColumn(header->sectionViewportPosition(0) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, firstColumn);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, firstColumn);
    ASSERT_EQ(form.KabuCodeList->topLevelItem(0)->text(0), QStringLiteral("6302 キヤノン"));
    answer = QString::fromStdString((Folder / "saved").string());
    form.SaveResult1->trigger();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].Kind, TFileDialogRequest::TKind::Folder);
    EXPECT_TRUE(Shown.empty());
    EXPECT_EQ(ParseCsv(FileBytes(answer + QStringLiteral("/result.csv"))), ListRows(form));
    EXPECT_EQ(Summary(answer)[QStringLiteral("listed")].toInt(), 2);
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(FileBytes(answer + QStringLiteral("/charts/000%1.png").arg(row + 1)),
                  RowChart(*form.KabuCodeList->topLevelItem(row), form.RunCharts))
            << row;
    EXPECT_NE(FileBytes(answer + QStringLiteral("/charts/0001.png")),
              FileBytes(answer + QStringLiteral("/charts/0002.png")));

    form.SearchSummary1->trigger();
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Shown[0].Caption, QStringLiteral("情報"));
    EXPECT_TRUE(
        Shown[0].Text.contains(QStringLiteral("一覧の 20 銘柄のうち 3 銘柄の株価を読み、2 銘柄が該当しました。")));
    EXPECT_TRUE(Shown[0].Text.contains(QStringLiteral("6306 x 東証: サービスから応答がありません")));
    EXPECT_TRUE(Shown[0].Text.contains(QStringLiteral("株価を読めなかった銘柄: 17 銘柄")));

    answer = QString::fromStdString((Folder / "chart.png").string());
    form.SaveChartImage1->trigger();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].Kind, TFileDialogRequest::TKind::SaveFile);
    EXPECT_EQ(QImage(answer).convertToFormat(QImage::Format_RGB32), form.ChartPane->ChartPanelImage());

    // A cancelled dialog writes nothing.
    answer.clear();
    std::filesystem::remove_all(Folder / "saved");
    form.SaveResult1->trigger();
    EXPECT_FALSE(std::filesystem::exists(Folder / "saved"));
    EXPECT_EQ(Shown.size(), 1u);
}

} // namespace
