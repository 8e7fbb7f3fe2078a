// A screening run of the real form, every pass included, against a loopback finance service.

#include "../form_service_test.h"
#include "data/fetch_ahead.h"
#include "data/web_page.h"
#include "screener/screening.h"
#include "common/service_contract.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

namespace {

const std::string Tosho1 = "\x93\x8c\x8f\xd8\x82\x50\x95\x94"; // 東証１部
const std::string Machinery = "\x8b\x40\x8a\x42";              // 機械

std::vector<THistoryCells> FlatWeeks()
{
    std::vector<THistoryCells> rows;
    for (int i = 29; i >= 0; --i)
        rows.push_back({WeekDate2026(i), "1000", "1000", "1000", "1000", "50000"});
    return rows;
}

class ScreeningRunTest : public TFormServiceTest
{
protected:
    void SetUp() override
    {
        TFormServiceTest::SetUp();
        WriteFileBytes("KabuList.dat", "6301,a," + Tosho1 + "," + Machinery + "\r\n6302,b," + Tosho1 + "," + Machinery +
                                           "\r\n6303,c," + Tosho1 + "," + Machinery + "\r\n");
    }
    void AddRoutes(httplib::Server& routes) override
    {
        routes.Get(QuoteRoute, [](const httplib::Request& request, httplib::Response& response) {
            const std::string key = request.get_param_value("qt");
            TQuotePageFields fields;
            fields.Code = key.substr(0, 4);
            if (key != "6301.t" && key != "6302.t")
                fields.TitleNoticeEuc = NotFoundEuc;
            response.set_content(QuotePage(fields), "text/html; charset=EUC-JP");
        });
        routes.Get(HistoryRoute, [](const httplib::Request& request, httplib::Response& response) {
            const bool signal = request.get_param_value("qt") == "6301.t";
            response.set_content(HistoryPage(signal ? VShapedWeeks(30) : FlatWeeks(), 20000),
                                 "text/html; charset=EUC-JP");
        });
    }
};

TEST_F(ScreeningRunTest, ListsTheStockWhoseChartHasAPurchase)
{
    TMainForm form(Dialogs);
    form.show();
    form.KabukaSearchWin->trigger();
    form.KabuSearchBox->setCurrentIndex(15); // 機械
    form.KabuSearchButton->click();

    EXPECT_TRUE(Shown.empty());
    ASSERT_EQ(form.KabuCodeList->topLevelItemCount(), 1) << "6302 has no signal, 6303 is unknown to the service";
    const QTreeWidgetItem* row = form.KabuCodeList->topLevelItem(0);
    EXPECT_EQ(row->text(0), QStringLiteral("6301 キヤノン"));
    EXPECT_EQ(row->text(2), QStringLiteral("  1,234円"));
    EXPECT_EQ(row->text(9), QStringLiteral("　　")) << "the signal is not on the newest week";
    EXPECT_EQ(row->text(10), QStringLiteral("   1095円"));
    EXPECT_EQ(row->text(11), QStringLiteral("2026/06/22"));
    EXPECT_EQ(row->text(12), QString());
    EXPECT_EQ(row->text(14), QStringLiteral("112%")) << "1,234 x 100 / 1095, truncated";
    EXPECT_EQ(row->text(16), QStringLiteral("継続保有"));
    EXPECT_EQ(row->text(17), QStringLiteral("0.990")) << "957 / 962 two weeks before the signal";
    EXPECT_EQ(row->text(18), QStringLiteral("1.020")) << "986 / 969";
    EXPECT_EQ(row->text(19), QStringLiteral("1.040")) << "1014 / 977";
    EXPECT_EQ(row->text(20), QStringLiteral("1.000")) << "a rising point";

    form.HitPutCheck->setChecked(true);
    form.KabuSearchButton->click();
    EXPECT_EQ(form.KabuCodeList->topLevelItemCount(), 0) << "no stock has a signal on its newest week";
}

// Regression: a row copied the quote board's labels, which a mouse move over the chart
// rewrites with the week under the pointer at any of the chain's event points; the row then
// carried that week's figures, and its rise rate used that week's close.
TEST_F(ScreeningRunTest, MouseMovesOverTheChartLeaveTheRowsFiguresAlone)
{
    TMainForm form(Dialogs);
    form.show();
    form.KabukaSearchWin->trigger();
    form.KabuSearchBox->setCurrentIndex(15); // 機械
    int moves = 0;
    bool readoutShown = false;
    QTimer pointer;
    pointer.setInterval(0);
    QObject::connect(&pointer, &QTimer::timeout, &form, [&] {
        if (moves++ == 0)
            form.KabukaChartWin->trigger(); // the user looks at the chart during the run
        const QPointF at(form.ChartPane->ChartScale.Left + 3, 50);
        QMouseEvent move(QEvent::MouseMove, at, form.ChartPane->ImageChart->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(form.ChartPane->ImageChart, &move);
        readoutShown = readoutShown || form.ChartPane->LabelTime->text().startsWith(QStringLiteral("2026/"));
    });
    pointer.start();
    QTest::mouseClick(form.KabuSearchButton, Qt::LeftButton);
    pointer.stop();

    ASSERT_TRUE(readoutShown) << "the pointer's week was shown during the run";
    ASSERT_TRUE(Shown.empty());
    ASSERT_EQ(form.KabuCodeList->topLevelItemCount(), 1);
    const QTreeWidgetItem* row = form.KabuCodeList->topLevelItem(0);
    EXPECT_EQ(row->text(0), QStringLiteral("6301 キヤノン"));
    EXPECT_EQ(row->text(2), QStringLiteral("  1,234円"));
    EXPECT_EQ(row->text(3), QStringLiteral("  12(1.23%)"));
    EXPECT_EQ(row->text(4), QStringLiteral("  1,200"));
    EXPECT_EQ(row->text(5), QStringLiteral("  1,250"));
    EXPECT_EQ(row->text(6), QStringLiteral("  1,190"));
    EXPECT_EQ(row->text(7), QStringLiteral(" 1,234,500"));
    EXPECT_EQ(row->text(14), QStringLiteral("112%")) << "1,234 x 100 / 1095 from the quote";
}

} // namespace

namespace {

// The same run with pages fetched ahead: a list of eight machinery stocks, 6304 unknown to
// the service; one answer can be held back at the service.
class ScreeningFetchAheadTest : public TFormServiceTest
{
protected:
    void SetUp() override
    {
        TFormServiceTest::SetUp();
        std::string list;
        for (const char* code : {"6301", "6302", "6303", "6304", "6305", "6306", "6307", "6308"})
            list += std::string(code) + ",x," + Tosho1 + "," + Machinery + "\r\n";
        WriteFileBytes("KabuList.dat", list);
    }
    void TearDown() override
    {
        SetFetchAheadConnections(DefaultFetchAheadConnections);
        TFormServiceTest::TearDown();
    }
    void AddRoutes(httplib::Server& routes) override
    {
        routes.set_keep_alive_max_count(1000);
        // A service some way off: the chain catches up with pages still under way.
        routes.set_post_routing_handler([](const httplib::Request&, httplib::Response&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        });
        routes.Get(QuoteRoute, [this](const httplib::Request& request, httplib::Response& response) {
            const std::string code = request.get_param_value("qt").substr(0, 4);
            if (HoldBack && HoldBack(code, response))
                return;
            TQuotePageFields fields;
            fields.Code = code;
            if (code == "6304")
                fields.TitleNoticeEuc = NotFoundEuc;
            fields.Price = std::to_string(1000 + std::stoi(code) % 10) + "," + code.substr(1);
            response.set_content(QuotePage(fields), "text/html; charset=EUC-JP");
        });
        routes.Get(HistoryRoute, [](const httplib::Request& request, httplib::Response& response) {
            const int code = std::stoi(request.get_param_value("qt").substr(0, 4));
            response.set_content(HistoryPage(code % 2 == 1 ? VShapedWeeks(24 + code % 7) : FlatWeeks(), 20000),
                                 "text/html; charset=EUC-JP");
        });
    }

    struct TRunResult
    {
        std::vector<QStringList> Rows;
        std::map<std::string, std::string> Cache; // dat/ file name -> bytes
    };

    TRunResult Run(TMainForm& form)
    {
        form.KabuSearchButton->click();
        TRunResult result;
        for (int i = 0; i < form.KabuCodeList->topLevelItemCount(); ++i)
        {
            QStringList cells;
            for (int column = 0; column < ResultColumnCount; ++column)
                cells << form.KabuCodeList->topLevelItem(i)->text(column);
            result.Rows.push_back(cells);
        }
        for (const auto& entry : std::filesystem::directory_iterator("dat"))
            result.Cache[entry.path().filename().string()] = ReadFileBytes(entry.path());
        return result;
    }

    static void ClearCache()
    {
        for (const auto& entry : std::filesystem::directory_iterator("dat"))
            std::filesystem::remove(entry.path());
    }

    // Answers a quote request itself when it returns true.
    std::function<bool(const std::string& code, httplib::Response&)> HoldBack;
};

//! The threads of this process that fetch ahead.
int FetchAheadThreads()
{
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        count += ReadFileBytes(task.path() / "comm") == "fetch-ahead\n";
    return count;
}

TEST_F(ScreeningFetchAheadTest, RowsAndCacheBytesAreTheSameWithAndWithoutAndNoPageIsAskedTwice)
{
    TMainForm form(Dialogs);
    form.show();
    form.KabukaSearchWin->trigger();
    form.KabuSearchBox->setCurrentIndex(15); // 機械

    SetFetchAheadConnections(0);
    const TRunResult without = Run(form);
    const std::size_t requestsWithout = Server.Log().size();
    ClearCache();
    SetFetchAheadConnections(4);
    const TRunResult with = Run(form);

    EXPECT_TRUE(Shown.empty());
    ASSERT_EQ(without.Rows.size(), 4u) << "the odd codes have a purchase";
    EXPECT_EQ(with.Rows, without.Rows);
    EXPECT_EQ(with.Cache.size(), 15u) << "8 quote pages, 7 history pages: none for the unknown 6304";
    EXPECT_TRUE(with.Cache == without.Cache);

    std::map<std::string, int> asked;
    const auto log = Server.Log();
    for (std::size_t i = requestsWithout; i < log.size(); ++i)
        ++asked[log[i].Target];
    EXPECT_EQ(asked.size(), 15u);
    for (const auto& [target, times] : asked)
        EXPECT_EQ(times, 1) << target;
}

TEST_F(ScreeningFetchAheadTest, NothingIsFetchedBeyondTheCodeTheRunStopsAt)
{
    WriteFileBytes("KabuList.dat", "6301,x," + Tosho1 + "," + Machinery + "\r\n6302,x," + Tosho1 + "," + Machinery +
                                       "\r\n99999,x," + Tosho1 + "," + Machinery + "\r\n6303,x," + Tosho1 + "," +
                                       Machinery + "\r\n");
    TMainForm form(Dialogs);
    form.show();
    form.KabukaSearchWin->trigger();
    form.KabuSearchBox->setCurrentIndex(15);
    form.KabuSearchButton->click();

    EXPECT_TRUE(Shown.empty());
    EXPECT_EQ(form.KabuCodeList->topLevelItemCount(), 1);
    for (const auto& request : Server.Log())
        EXPECT_EQ(request.Target.find("qt=6303"), std::string::npos) << request.Target;
}

TEST_F(ScreeningFetchAheadTest, ClosingTheWindowEndsEveryTransferAndLeavesNoPartialFile)
{
    // 6303's and 6305's quote pages stop half-way until the test lets them go on.
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<int> heldBack{0};
    std::atomic<int> outwaited{0};
    HoldBack = [&](const std::string& code, httplib::Response& response) {
        if (code != "6303" && code != "6305")
            return false;
        response.set_content_provider(20000, "text/html", [&](std::size_t, std::size_t, httplib::DataSink& sink) {
            sink.write("<html>", 6);
            ++heldBack;
            std::unique_lock lock(mutex);
            if (!released.wait_for(lock, std::chrono::seconds(20), [&] { return release; }))
                ++outwaited;
            return false;
        });
        return true;
    };
    const auto letGo = [&] {
        {
            const std::lock_guard lock(mutex);
            release = true;
        }
        released.notify_all();
    };
    // The held-back handlers must be gone before the mutex they wait on.
    const auto stop = Server.StopBeforeLeaving(letGo);
    TMainForm form(Dialogs);
    form.show();
    form.KabukaSearchWin->trigger();
    form.KabuSearchBox->setCurrentIndex(15);
    // The user closes the window while the chain waits for 6303's page.
    int threadsAtClose = 0;
    QTimer closer;
    closer.setInterval(0);
    QObject::connect(&closer, &QTimer::timeout, &form, [&] {
        if (heldBack == 2 && form.LabelKabuReadBar->text().contains(QStringLiteral("3/")))
        {
            closer.stop();
            threadsAtClose = FetchAheadThreads();
            form.close();
        }
    });
    closer.start();
    QTest::mouseClick(form.KabuSearchButton, Qt::LeftButton);
    closer.stop();
    const bool partial = std::any_of(
        std::filesystem::directory_iterator("dat"), std::filesystem::directory_iterator(),
        [](const auto& entry) { return entry.path().filename().string().find(".part-") != std::string::npos; });
    const int threadsAfter = FetchAheadThreads();
    letGo();

    EXPECT_EQ(form.Tag, ClosingTag);
    EXPECT_FALSE(partial);
    EXPECT_FALSE(std::filesystem::exists("dat/k6303.t.00"));
    EXPECT_EQ(threadsAtClose, 1);
    EXPECT_EQ(threadsAfter, 0) << "the fetch-ahead's thread has ended";
    EXPECT_EQ(outwaited, 0) << "the run did not wait for the service";
    EXPECT_EQ(form.KabuCodeList->topLevelItemCount(), 1) << "6301 only";
    EXPECT_TRUE(form.KabuSearchButton->isEnabled());
}

} // namespace

namespace {

// A list of today's market: segment names beside an old one, letter codes between numeric
// ones, a numeric stop code and a stock after it. The quote pages state their trading unit.
class ScreeningTodaysMarketTest : public TFormServiceTest
{
protected:
    void SetUp() override
    {
        TFormServiceTest::SetUp();
        const std::string prime = "\x83\x76\x83\x89\x83\x43\x83\x80";              // プライム
        const std::string meishoMain = "\x96\xbc\x8f\xd8\x83\x81\x83\x43\x83\x93"; // 名証メイン
        const std::string fukushoQ = "\x95\x9f\x8f\xd8"
                                     "Q-Board"; // 福証Q-Board
        WriteFileBytes("KabuList.dat", "6301,a," + Tosho1 + "," + Machinery + "\r\n130A,b," + prime + "," + Machinery +
                                           "\r\n9a7a,c," + meishoMain + "," + Machinery + "\r\n1309,d," + fukushoQ +
                                           "," + Machinery + "\r\n99999,e," + prime + "," + Machinery + "\r\n6303,f," +
                                           prime + "," + Machinery + "\r\n");
    }
    void TearDown() override
    {
        // A handler still holding 6301's page lets go before the fixture's members go.
        {
            const std::lock_guard lock(Mutex);
            QuotesAsked = 3;
        }
        Asked.notify_all();
        TFormServiceTest::TearDown();
    }
    void AddRoutes(httplib::Server& routes) override
    {
        routes.Get(QuoteRoute, [this](const httplib::Request& request, httplib::Response& response) {
            const std::string key = request.get_param_value("qt");
            TQuotePageFields fields;
            fields.Code = key.substr(0, 4);
            if (key == "6301.t")
            {
                // Held until the pages of the letter codes were asked for: only the
                // fetch-ahead can ask for them while the chain waits for this one.
                std::unique_lock lock(Mutex);
                AheadOfTheChain = Asked.wait_for(lock, std::chrono::seconds(10), [this] { return QuotesAsked >= 3; });
            }
            else if (key == "130A.t")
                fields.Unit = "100" + SharesEuc; // 123,400 yen a unit
            else if (key == "9A7A.n")
            {
                fields.Unit = "100" + SharesEuc; // 90,000 yen a unit
                fields.Price = "900";
            }
            else if (key != "1309")
                fields.TitleNoticeEuc = NotFoundEuc;
            if (key == "130A.t" || key == "9A7A.n" || key == "1309")
            {
                const std::lock_guard lock(Mutex);
                ++QuotesAsked;
                Asked.notify_all();
            }
            response.set_content(QuotePage(fields), "text/html; charset=EUC-JP");
        });
        routes.Get(HistoryRoute, [](const httplib::Request&, httplib::Response& response) {
            response.set_content(HistoryPage(VShapedWeeks(30), 20000), "text/html; charset=EUC-JP");
        });
    }

    //! The rows' cells of column `column`, in list order.
    static QStringList Column(const TMainForm& form, int column)
    {
        QStringList cells;
        for (int i = 0; i < form.KabuCodeList->topLevelItemCount(); ++i)
            cells << form.KabuCodeList->topLevelItem(i)->text(column);
        return cells;
    }

    std::mutex Mutex;
    std::condition_variable Asked;
    int QuotesAsked = 0;
    bool AheadOfTheChain = false;
};

TEST_F(ScreeningTodaysMarketTest, LetterCodesAreFetchedAheadListedAndTheRunStillStopsAtANumericStop)
{
    TMainForm form(Dialogs);
    form.show();
    form.KabukaSearchWin->trigger();
    form.KabuSearchBox->setCurrentIndex(15); // 機械
    QTest::mouseClick(form.KabuSearchButton, Qt::LeftButton);

    ASSERT_TRUE(Shown.empty()) << Shown[0].Text.toStdString();
    EXPECT_TRUE(AheadOfTheChain) << "the fetch-ahead went on past the letter codes";
    for (const auto& request : Server.Log())
        EXPECT_EQ(request.Target.find("qt=6303"), std::string::npos) << "asked beyond the stop: " << request.Target;
    EXPECT_EQ(form.LabelKabuReadBar->text(), QStringLiteral(" 83% [   5/   6]"));
    // Every row still holds its purchase of 1095 yen on 2026/06/22; the rate uses the price.
    EXPECT_EQ(Column(form, 0), (QStringList{QStringLiteral("6301 キヤノン"), QStringLiteral("130A キヤノン"),
                                            QStringLiteral("9A7A キヤノン"), QStringLiteral("1309 キヤノン")}));
    EXPECT_EQ(Column(form, 1), (QStringList{QStringLiteral("東証"), QStringLiteral("プライム"),
                                            QStringLiteral("名証メイン"), QStringLiteral("福証Q-Board")}));
    EXPECT_EQ(Column(form, 8), (QStringList{QStringLiteral("  1株"), QStringLiteral("100株"), QStringLiteral("100株"),
                                            QStringLiteral("  1株")}));
    EXPECT_EQ(Column(form, 14), (QStringList{QStringLiteral("112%"), QStringLiteral("112%"), QStringLiteral(" 82%"),
                                             QStringLiteral("112%")}))
        << "1,234 x 100 / 1095 and 900 x 100 / 1095, truncated";
    for (const char* file : {"k130A.t.00", "k130A.t.02", "k9A7A.n.00", "k9A7A.n.02", "k1309  .00", "k1309  .02"})
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::path("dat") / file)) << file;

    // Column 1 sorts as text: 1309 < 130A < 6301 < 9A7A, the exchange's own order.
    QHeaderView* header = form.KabuCodeList->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionPosition(0) + 5, header->height() / 2));
    EXPECT_EQ(Column(form, 0), (QStringList{QStringLiteral("1309 キヤノン"), QStringLiteral("130A キヤノン"),
                                            QStringLiteral("6301 キヤノン"), QStringLiteral("9A7A キヤノン")}));

    // A unit of 100 shares at 1,234 yen costs 123,400 yen: over the limit; at 900 it is not.
    form.UnderKabuCheck->setChecked(true);
    QTest::mouseClick(form.KabuSearchButton, Qt::LeftButton);
    EXPECT_EQ(Column(form, 0), (QStringList{QStringLiteral("6301 キヤノン"), QStringLiteral("9A7A キヤノン"),
                                            QStringLiteral("1309 キヤノン")}));

    // Opening rows of today's markets: the suffix comes from column 2's text.
    const std::size_t before = Server.Log().size();
    for (int row : {2, 1})
    {
        SCOPED_TRACE(row);
        form.KabukaSearchWin->trigger();
        const QPoint centre = form.KabuCodeList->visualItemRect(form.KabuCodeList->topLevelItem(row)).center();
        QTest::mouseClick(form.KabuCodeList->viewport(), Qt::LeftButton, {}, centre);
        QTest::mouseDClick(form.KabuCodeList->viewport(), Qt::LeftButton, {}, centre);
        EXPECT_EQ(form.ChartPane->ChartCode, row == 2 ? "1309  " : "9A7A.n");
    }
    EXPECT_EQ(Server.Log().size(), before) << "both stocks' pages are in today's cache";
    EXPECT_EQ(form.ChartPane->LabelKabuNo->text(), QStringLiteral("9A7A キヤノン"));
}

} // namespace
