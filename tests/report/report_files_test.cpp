#include "report/report_files.h"

#include "report_rows.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TResultRow Captions()
{
    return {"銘柄", "市場", "現在値", "前日比", "始値", "高値", "安値", "出来高", "単元株数", "推奨", "購入値",
            "購入日付", "売却値", "売却日付", "上昇率", "評価", "1株あたり益", "Info1", "Info2", "Info3", "Info4"};
}

QByteArray SmallPng(const QColor& colour)
{
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(colour);
    return PngBytes(image);
}

TRunReport HandMadeReport()
{
    TRunReport report;
    report.Run.Sector = "全て";
    report.Run.Date = "2026/12/07";
    report.Run.Under100k = true;
    report.Run.Entries = 6;
    report.Run.Screened = 4;
    report.Run.Skipped = {{"6301", "東証", TQuoteMiss::NotFound, 16000, "コマツ"},
                          {"6302", "JASDAQ", TQuoteMiss::NoAnswer, 0, "住友重"}};
    report.Run.NotListed = {3, 2, 1};
    report.Run.Pages = {12, 0};
    report.Captions = Captions();
    report.Rows = {Sold("112%", "◎", "   120円"), Held("101%"), Sold(" 90%", "×", "  -100円")};
    report.Charts = {SmallPng(Qt::red), QByteArray(), SmallPng(Qt::blue)};
    return report;
}

QString Utf8(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes);
}

TEST(ResultCsv, HasAByteOrderMarkCrLfLinesAndQuotesOnlyWhereNeeded)
{
    TResultRow tricky = Held("101%");
    tricky[0] = "1301 \"極洋\", 本社";
    tricky[7] = " 1,234,500";
    const QByteArray csv = ResultCsv(Captions(), {Held("112%"), tricky});

    ASSERT_TRUE(csv.startsWith("\xef\xbb\xbf"));
    const QList<QByteArray> lines = csv.mid(3).split('\n');
    ASSERT_EQ(lines.size(), 4) << "three lines, each ended by CR LF";
    EXPECT_TRUE(lines[3].isEmpty());
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(lines[i].endsWith('\r')) << i;
    EXPECT_EQ(Utf8(lines[0]), QStringLiteral("銘柄,市場,現在値,前日比,始値,高値,安値,出来高,単元株数,推奨,購入値,"
                                             "購入日付,売却値,売却日付,上昇率,評価,1株あたり益,Info1,Info2,Info3,Info4\r"));
    EXPECT_EQ(Utf8(lines[1]), QStringLiteral("1301 極洋,東証,\"  1,234円\",  12(1.23%),\"  1,200\",\"  1,250\","
                                             "\"  1,190\",\" 1,234,500\",  1株,　　,   1095円,2026/06/22,,,112%,　,"
                                             "継続保有,0.990,1.020,1.040,1.000\r"));
    EXPECT_TRUE(Utf8(lines[2]).startsWith(QStringLiteral("\"1301 \"\"極洋\"\", 本社\",東証,")));
    EXPECT_EQ(ResultCsv(Captions(), {}).count("\r\n"), 1) << "no rows: the captions alone";
}

TEST(ResultCsv, QuotesLineBreaksAndDisarmsFormulas)
{
    const struct
    {
        const char* Name;
        std::string Cell;
        std::string Written; // the cell as the CSV line holds it
    } rows[] = {
        {"a line feed", "1301 極\n洋", "\"1301 極\n洋\""},
        {"a carriage return inside", "1301 極\r洋", "\"1301 極\r洋\""},
        {"CR LF", "a\r\nb", "\"a\r\nb\""},
        {"a formula", "=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"a plus", "+1+2", "'+1+2"},
        {"an at sign", "@SUM(A1)", "'@SUM(A1)"},
        {"a tab", "\t=1", "'\t=1"},
        {"a leading CR", "\r=1", "\"'\r=1\""},
        {"a minus is a figure", "-100円", "-100円"},
        {"an equals sign later", "a=b", "a=b"},
        {"a NUL is no formula", std::string("\0=", 2), std::string("\0=", 2)},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        TResultRow cells = Held("101%");
        cells[11] = row.Cell; // 購入日付, taken from a page
        const QByteArray csv = ResultCsv(Captions(), {cells});
        const QByteArray expected = QByteArray("1,200\",\"  1,250\",\"  1,190\",\" 1,234,500\",  1株,　　,   1095円,") +
                                    QByteArray::fromStdString(row.Written) + ",,,101%,";
        EXPECT_TRUE(csv.contains(expected)) << csv.toStdString();
        EXPECT_TRUE(csv.endsWith("0.990,1.020,1.040,1.000\r\n"));
    }
}

TEST(SummaryJson, HoldsTheRunTheOutcomesAndTheSkippedStocks)
{
    TRunReport report = HandMadeReport();
    const QJsonObject summary = QJsonDocument::fromJson(SummaryJson(report)).object();

    EXPECT_EQ(summary[QStringLiteral("sector")].toString(), QStringLiteral("全て"));
    EXPECT_EQ(summary[QStringLiteral("date")].toString(), QStringLiteral("2026/12/07"));
    const QJsonObject conditions = summary[QStringLiteral("conditions")].toObject();
    EXPECT_FALSE(conditions[QStringLiteral("hits_only")].toBool(true));
    EXPECT_TRUE(conditions[QStringLiteral("under_100k")].toBool(false));
    EXPECT_TRUE(conditions[QStringLiteral("rsi30")].isBool());
    EXPECT_EQ(summary[QStringLiteral("entries")].toInt(), 6);
    EXPECT_EQ(summary[QStringLiteral("screened")].toInt(), 4);
    EXPECT_EQ(summary[QStringLiteral("listed")].toInt(), 3);
    const QJsonObject outcomes = summary[QStringLiteral("outcomes")].toObject();
    EXPECT_EQ(outcomes[QStringLiteral("target")].toInt(), 1);
    EXPECT_EQ(outcomes[QStringLiteral("stop")].toInt(), 1);
    EXPECT_EQ(outcomes[QStringLiteral("held")].toInt(), 1);
    EXPECT_EQ(summary[QStringLiteral("closed_win_rate")].toDouble(), 0.5);
    EXPECT_EQ(summary[QStringLiteral("mean_rate_closed")].toDouble(), 101.0);
    EXPECT_EQ(summary[QStringLiteral("mean_return_closed")].toDouble(), 0.9132) << "(120 - 100) / 1095 / 2";
    const QJsonObject notListed = summary[QStringLiteral("not_listed")].toObject();
    EXPECT_EQ(notListed[QStringLiteral("no_purchase")].toInt(), 3);
    EXPECT_EQ(notListed[QStringLiteral("over_100k")].toInt(), 2);
    EXPECT_EQ(notListed[QStringLiteral("no_newest_signal")].toInt(), 1);
    EXPECT_FALSE(summary.contains(QStringLiteral("sample_data")));
    EXPECT_EQ(summary[QStringLiteral("profit_closed")].toInt(), 20);
    const QJsonArray skipped = summary[QStringLiteral("skipped")].toArray();
    ASSERT_EQ(skipped.size(), 2);
    EXPECT_EQ(skipped[0].toObject()[QStringLiteral("code")].toString(), QStringLiteral("6301"));
    EXPECT_EQ(skipped[0].toObject()[QStringLiteral("market")].toString(), QStringLiteral("東証"));
    EXPECT_EQ(skipped[0].toObject()[QStringLiteral("name")].toString(), QStringLiteral("コマツ"));
    EXPECT_EQ(skipped[0].toObject()[QStringLiteral("reason")].toString(), QStringLiteral("not-found page"));
    EXPECT_EQ(skipped[0].toObject()[QStringLiteral("page_bytes")].toInt(), 16000);
    EXPECT_EQ(skipped[1].toObject()[QStringLiteral("reason")].toString(), QStringLiteral("no answer"));
    EXPECT_FALSE(skipped[1].toObject().contains(QStringLiteral("page_bytes")));
    EXPECT_EQ(summary[QStringLiteral("pages")].toObject()[QStringLiteral("fetched")].toInt(), 12);
    EXPECT_EQ(summary[QStringLiteral("pages")].toObject()[QStringLiteral("from_cache")].toInt(), 0);
    EXPECT_EQ(summary[QStringLiteral("ended")].toString(), QStringLiteral("completed"));

    report.Rows = {Held("101%")};
    report.Run.End = TRunEnd::StoppedAtCode;
    report.Run.StopCode = 999;
    const QJsonObject open = QJsonDocument::fromJson(SummaryJson(report)).object();
    EXPECT_TRUE(open[QStringLiteral("closed_win_rate")].isNull()) << "no closed trade";
    EXPECT_TRUE(open[QStringLiteral("mean_rate_closed")].isNull());
    EXPECT_EQ(open[QStringLiteral("profit_closed")].toInt(-1), 0);
    EXPECT_EQ(open[QStringLiteral("ended")].toString(), QStringLiteral("stopped at code 999"));

    report.Run.SampleData = true;
    for (const auto& [end, token] : {std::pair{TRunEnd::NoPageRead, "no page could be read"},
                                     std::pair{TRunEnd::Interrupted, "interrupted"},
                                     std::pair{TRunEnd::WindowClosed, "stopped when the window was closed"}})
    {
        report.Run.End = end;
        const QJsonObject ended = QJsonDocument::fromJson(SummaryJson(report)).object();
        EXPECT_EQ(ended[QStringLiteral("ended")].toString(), QLatin1String(token));
        EXPECT_TRUE(ended[QStringLiteral("sample_data")].toBool());
    }
}

TEST(SettledEnd, AFinishedRunThatReadNothingBecauseNothingAnsweredReadsNoPage)
{
    const auto settled = [](int screened, std::vector<TQuoteMiss> reasons, TRunEnd end) {
        TRunRecord run;
        run.Screened = screened;
        run.End = end;
        for (const TQuoteMiss reason : reasons)
            run.Skipped.push_back({"6301", "東証", reason, 0, ""});
        return SettledEnd(run);
    };
    const TQuoteMiss none = TQuoteMiss::NoAnswer;
    EXPECT_EQ(settled(0, {none, none}, TRunEnd::Completed), TRunEnd::NoPageRead);
    EXPECT_EQ(settled(0, {none}, TRunEnd::StoppedAtCode), TRunEnd::NoPageRead);
    EXPECT_EQ(settled(1, {none, none}, TRunEnd::Completed), TRunEnd::Completed) << "some stocks were read";
    EXPECT_EQ(settled(0, {none, TQuoteMiss::NotFound}, TRunEnd::Completed), TRunEnd::Completed) << "a page came";
    EXPECT_EQ(settled(0, {}, TRunEnd::Completed), TRunEnd::Completed) << "nothing was asked for";
    EXPECT_EQ(settled(0, {none}, TRunEnd::DataError), TRunEnd::DataError);
    EXPECT_EQ(settled(0, {none}, TRunEnd::WindowClosed), TRunEnd::WindowClosed);
}

TEST(ReportHtml, EscapesEveryOutsideTextAndLoadsNothingFromElsewhere)
{
    TRunReport report = HandMadeReport();
    const std::string hostile = "<script>&\"'";
    report.Rows[0][0] = "1301 " + hostile;
    report.Rows[2][1] = hostile;
    report.Run.Skipped[0].Code = hostile;
    report.Run.Skipped[0].Market = hostile;
    report.Run.Skipped[1].Name = hostile;
    report.Run.End = TRunEnd::DataError;
    report.Run.ErrorText = "cannot convert " + hostile;
    const QString html = Utf8(ReportHtml(report));

    EXPECT_FALSE(html.contains(QStringLiteral("<script"), Qt::CaseInsensitive));
    EXPECT_FALSE(html.contains(QStringLiteral("&\"")));
    const QString escaped = QStringLiteral("&lt;script&gt;&amp;&quot;&#39;");
    EXPECT_GE(html.count(escaped), 7) << "table cell, chart caption and alt text, skipped code, name and market, error";
    EXPECT_TRUE(html.contains(QStringLiteral("<td class=\"l\">1301 ") + escaped + QStringLiteral("</td>")));
    EXPECT_TRUE(html.contains(QStringLiteral("cannot convert ") + escaped));
    for (const char* remote : {"http:", "https:", "//", "@import", "url("})
        EXPECT_FALSE(html.contains(QLatin1String(remote))) << remote;

    // Charts in list order, a row without one has none.
    const qsizetype first = html.indexOf(QStringLiteral("src=\"charts/0001.png\""));
    const qsizetype third = html.indexOf(QStringLiteral("src=\"charts/0003.png\""));
    EXPECT_GT(first, 0);
    EXPECT_TRUE(html.contains(QStringLiteral("src=\"charts/0001.png\" width=\"4\" height=\"3\"")));
    EXPECT_GT(third, first);
    EXPECT_FALSE(html.contains(QStringLiteral("charts/0002.png")));
    EXPECT_TRUE(html.contains(QStringLiteral("<a href=\"#chart-0003\">3</a>")));
    EXPECT_TRUE(html.contains(QStringLiteral("@page { size: A4 landscape")));
    EXPECT_FALSE(html.contains(QStringLiteral("サンプルデータ")));
    report.Run.SampleData = true;
    const QString sampleHtml = Utf8(ReportHtml(report));
    EXPECT_TRUE(sampleHtml.contains(QStringLiteral("<p class=\"note\">サンプルデータ")));
    EXPECT_EQ(sampleHtml.count(QStringLiteral("サンプルデータ")), 1) << "said once, above the summary";
}

TEST(ReportHtml, AlignsFiguresRightAndNamesTheSkippedStocks)
{
    const TRunReport report = HandMadeReport();
    const QString html = Utf8(ReportHtml(report));
    // Figures right so their digits line up; texts left; marks and dates centred.
    for (const char* cell : {"<td class=\"l\">1301 極洋</td><td class=\"l\">東証</td><td class=\"r\">  1,234円</td>",
                             "<td class=\"r\"> 1,234,500</td><td class=\"r\">  1株</td><td class=\"c\">　　</td>"
                             "<td class=\"r\">   1095円</td><td class=\"c\">2026/06/22</td><td class=\"r\">1215円</td>",
                             "<td class=\"r\">112%</td><td class=\"c\">◎</td><td class=\"r\">   120円</td>"
                             "<td class=\"r\">0.990</td>"})
        EXPECT_TRUE(html.contains(QString::fromUtf8(cell))) << cell;
    // The list sits in a box of the page's width that scrolls on its own.
    EXPECT_TRUE(html.contains(QStringLiteral("<div class=\"wide\">\n<table class=\"result\">")));
    EXPECT_TRUE(html.contains(QStringLiteral("div.wide { max-width: 100%; overflow-x: auto; }")));
    EXPECT_TRUE(html.contains(QStringLiteral("<tr><td>6301</td><td>コマツ</td><td>東証</td><td>銘柄が見つかりませんでした</td></tr>")));
    EXPECT_TRUE(html.contains(QStringLiteral("株価を読んで該当しなかった銘柄: 6 銘柄（買いシグナルによる購入なし 3、10万円超 2、"
                                             "最新週にシグナルなし 1）")));
    EXPECT_TRUE(html.contains(QStringLiteral("平均損益率 +0.91%")));
}

TEST(PngBytes, KeepsEveryPixelWhateverTheNumberOfColours)
{
    for (const int colours : {3, 256, 300})
    {
        SCOPED_TRACE(colours);
        QImage image(40, 30, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
            {
                const int i = (y * image.width() + x) % colours;
                image.setPixel(x, y, qRgb(i % 256, i / 256 * 100, 7));
            }
        const QImage back = QImage::fromData(PngBytes(image), "png").convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(back, image);
    }
}

TEST(WriteRunReport, WritesTheFilesIntoANewFolderAndDropsChartsOfAnEarlierReport)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString folder = temp.filePath(QStringLiteral("reports/today"));
    const TRunReport report = HandMadeReport();
    // An earlier, longer report of the program's own, and files it never wrote.
    TRunReport longer = HandMadeReport();
    longer.Rows.push_back(Held("100%"));
    longer.Charts[1] = SmallPng(Qt::green);
    longer.Charts.push_back(SmallPng(Qt::green));
    WriteRunReport(longer, folder);
    for (const char* name : {"0009.png", "notes.png"})
    {
        QFile file(folder + QStringLiteral("/charts/") + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QFile::exists(folder + QStringLiteral("/charts/0004.png")));

    WriteRunReport(report, folder);

    const QDir dir(folder);
    const auto bytes = [&dir](const char* name) {
        QFile file(dir.filePath(QLatin1String(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    EXPECT_EQ(bytes("result.csv"), ResultCsv(report.Captions, report.Rows));
    EXPECT_EQ(bytes("summary.json"), SummaryJson(report));
    EXPECT_EQ(bytes("report.html"), ReportHtml(report));
    EXPECT_EQ(bytes("charts/0001.png"), report.Charts[0]);
    EXPECT_EQ(bytes("charts/0003.png"), report.Charts[2]);
    EXPECT_EQ(QImage(dir.filePath(QStringLiteral("charts/0003.png"))).pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_FALSE(dir.exists(QStringLiteral("charts/0002.png"))) << "a row without a chart leaves no old one";
    EXPECT_FALSE(dir.exists(QStringLiteral("charts/0004.png")));
    EXPECT_TRUE(dir.exists(QStringLiteral("charts/0009.png"))) << "named like a chart, but not written by a report";
    EXPECT_TRUE(dir.exists(QStringLiteral("charts/notes.png"))) << "files the report did not name stay";
    EXPECT_EQ(dir.entryList(QDir::Files | QDir::Hidden).size(), 3) << "no temporary file is left";

    QFile blocker(temp.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_THROW(WriteRunReport(report, temp.filePath(QStringLiteral("file/out"))), TReportError);
}

// Links planted in a report folder: nothing is written or deleted through them.
TEST(WriteRunReport, NeverWritesOrDeletesThroughALink)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString folder = temp.filePath(QStringLiteral("out"));
    const QString victim = temp.filePath(QStringLiteral("victim"));
    ASSERT_TRUE(QDir().mkpath(victim));
    ASSERT_TRUE(QDir().mkpath(folder));
    const auto write = [](const QString& file, const QByteArray& bytes) {
        QFile out(file);
        return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
    };
    const auto read = [](const QString& file) {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("(missing)");
    };
    ASSERT_TRUE(write(victim + QStringLiteral("/result.csv"), "keep"));
    ASSERT_TRUE(write(victim + QStringLiteral("/0001.png"), "keep"));
    ASSERT_TRUE(write(victim + QStringLiteral("/0099.png"), "keep"));

    // Files named as the report's, linked elsewhere, one of them dangling.
    ASSERT_TRUE(QFile::link(victim + QStringLiteral("/result.csv"), folder + QStringLiteral("/result.csv")));
    ASSERT_TRUE(QFile::link(victim + QStringLiteral("/new.json"), folder + QStringLiteral("/summary.json")));
    const TRunReport report = HandMadeReport();
    WriteRunReport(report, folder);
    EXPECT_EQ(read(victim + QStringLiteral("/result.csv")), "keep");
    EXPECT_FALSE(QFile::exists(victim + QStringLiteral("/new.json"))) << "a dangling link's target is not created";
    EXPECT_EQ(read(folder + QStringLiteral("/result.csv")), ResultCsv(report.Captions, report.Rows));
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/result.csv")).isFile());
    EXPECT_FALSE(QFileInfo(folder + QStringLiteral("/result.csv")).isSymLink());

    // A chart file linked elsewhere is replaced, not written through.
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/charts/0001.png")));
    ASSERT_TRUE(QFile::link(victim + QStringLiteral("/0001.png"), folder + QStringLiteral("/charts/0001.png")));
    WriteRunReport(report, folder);
    EXPECT_EQ(read(victim + QStringLiteral("/0001.png")), "keep");
    EXPECT_EQ(read(folder + QStringLiteral("/charts/0001.png")), report.Charts[0]);

    // charts/ as a link is refused: nothing lands in or vanishes from its target.
    QDir(folder + QStringLiteral("/charts")).removeRecursively();
    ASSERT_TRUE(QFile::link(victim, folder + QStringLiteral("/charts")));
    EXPECT_THROW(WriteRunReport(report, folder), TReportError);
    EXPECT_EQ(QDir(victim).entryList(QDir::Files), (QStringList{QStringLiteral("0001.png"), QStringLiteral("0099.png"),
                                                                  QStringLiteral("result.csv")}));
    EXPECT_EQ(read(victim + QStringLiteral("/0099.png")), "keep");

    // Nor a charts/ that is a file, or a folder of another user.
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/charts")));
    ASSERT_TRUE(write(folder + QStringLiteral("/charts"), "file"));
    EXPECT_THROW(WriteRunReport(report, folder), TReportError);
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/charts")));
    if (::geteuid() == 0)
    {
        ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/charts")));
        ASSERT_EQ(::chown(QFile::encodeName(folder + QStringLiteral("/charts")).constData(), 12345, 12345), 0);
        EXPECT_THROW(WriteRunReport(report, folder), TReportError);
        EXPECT_TRUE(QDir(folder + QStringLiteral("/charts")).isEmpty());
        QDir(folder + QStringLiteral("/charts")).removeRecursively();
    }

    // A manifest planted beside the charts names nothing outside the folder.
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/charts")));
    ASSERT_TRUE(write(folder + QStringLiteral("/charts/.orvanta-charts"), "../result.csv\n../../victim/0099.png\n"));
    WriteRunReport(report, folder);
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/result.csv")));
    EXPECT_EQ(read(victim + QStringLiteral("/0099.png")), "keep");
}

} // namespace
