// The whole lookup chain of the real form against a loopback finance service.

#include "../form_service_test.h"
#include "test_images.h"
#include "common/service_contract.h"

#include "../../chart/image_probe.h"
#include "data/web_page.h"

#include <QCoreApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// A weekly history of `count` rows, newest first, with a rise over the last weeks so both
// averages and a signal are drawn.
std::vector<THistoryCells> WeeklyRows(int count, std::int64_t volumeBase = 12000)
{
    std::vector<THistoryCells> rows;
    std::chrono::sys_days day = std::chrono::sys_days{std::chrono::year{2026} / 11 / 30};
    for (int i = 0; i < count; ++i)
    {
        const int close = 1000 + (i < 10 ? (10 - i) * 30 : (i % 7) * 10);
        const std::chrono::year_month_day date{day - std::chrono::days{7 * i}};
        char text[16];
        std::snprintf(text, sizeof text, "%04d/%02u/%02u", static_cast<int>(date.year()),
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
        rows.push_back({text, std::to_string(close), std::to_string(close - 5), std::to_string(close + 20),
                        std::to_string(close - 20), std::to_string(volumeBase + i * 100)});
    }
    return rows;
}

class LookupTest : public TFormServiceTest
{
protected:
    void AddRoutes(httplib::Server& routes) override
    {
        routes.Get(QuoteRoute, [this](const httplib::Request& request, httplib::Response& response) {
            if (request.get_param_value("qt") != PageKey)
            {
                TQuotePageFields missing;
                missing.TitleNoticeEuc = NotFoundEuc;
                response.set_content(QuotePage(missing), "text/html; charset=EUC-JP");
                return;
            }
            if (QuoteAnswer == TAnswer::Empty)
            {
                response.set_content("", "text/html; charset=EUC-JP");
                return;
            }
            if (QuoteAnswer == TAnswer::Silent)
            {
                // Not a byte, not even the status line, for up to 20 s.
                for (int i = 0; i < 400 && !SilenceOver; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return;
            }
            if (QuoteAnswer == TAnswer::Trickle)
            {
                // A byte every 250 ms: 20 s in all, unless the client goes away first.
                response.set_chunked_content_provider("text/html", [this](std::size_t offset, httplib::DataSink& sink) {
                    if (offset >= TrickleBytes)
                    {
                        sink.done();
                        return true;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(250));
                    ++Trickled;
                    const bool written = sink.write("<", 1);
                    TrickleBroken = !written;
                    return written;
                });
                return;
            }
            TQuotePageFields fields;
            fields.Volume = QuoteVolume;
            fields.Code = PageCode;
            response.set_content(QuotePage(fields), "text/html; charset=EUC-JP");
        });
        routes.Get(HistoryRoute, [this](const httplib::Request& request, httplib::Response& response) {
            const bool weekly = request.get_param_value("k") == "w";
            response.set_content(HistoryPage(WeeklyRows(weekly ? 47 : 20, VolumeBase), 20000),
                                 "text/html; charset=EUC-JP");
        });
    }

    enum class TAnswer
    {
        Page,
        Empty,
        Trickle,
        Silent,
    };

    //! Shows the window, puts the title panel away and types 7751 into the code box.
    static void TypeCode(TMainForm& form)
    {
        form.show();
        form.OKMessageButton->click();
        form.KabuNoEdit->setText(QStringLiteral("7751"));
    }

    //! TypeCode, then "表示".
    static void LookUp(TMainForm& form)
    {
        TypeCode(form);
        form.KabuNoButton->click();
    }

    //! Closes the window `ms` after the event loop next runs, noting when in `closedAt`.
    static void CloseAfter(TMainForm& form, int ms, std::chrono::steady_clock::time_point& closedAt)
    {
        QTimer::singleShot(ms, &form, [&form, &closedAt] {
            closedAt = std::chrono::steady_clock::now();
            form.close();
        });
    }

    TAnswer QuoteAnswer = TAnswer::Page;
    static constexpr std::size_t TrickleBytes = 80;
    std::atomic<std::size_t> Trickled{0};
    std::atomic<bool> TrickleBroken{false};
    std::atomic<bool> SilenceOver{false};
    std::string QuoteVolume = "1,234,500";
    std::string PageKey = "7751.t"; // the key the service knows
    std::string PageCode = "7751";
    std::int64_t VolumeBase = 12000;
};

TEST_F(LookupTest, FillsTheBoardTheTableAndTheCharts)
{
    TMainForm form(Dialogs);
    LookUp(form);

    ASSERT_TRUE(Shown.empty()) << Shown[0].Text.toStdString();
    EXPECT_EQ(form.ChartPane->LabelKabuNo->text(), QStringLiteral("7751 キヤノン"));
    EXPECT_EQ(form.ChartPane->LabelKabuKa->text(), QStringLiteral("  1,234"));
    EXPECT_EQ(form.ChartPane->Label1->text(), QStringLiteral("  12(1.23%)"));
    EXPECT_EQ(form.ChartPane->Label5->text(), QStringLiteral(" 1,234,500"));
    EXPECT_EQ(FilledBarCount(form.ChartPane->ChartBars), 47);
    EXPECT_EQ(form.ChartPane->ChartCode, "7751.t");
    EXPECT_EQ(form.ChartPane->ChartBars[46].DateText, "2026/11/30");
    EXPECT_EQ(form.ChartPane->ChartBars[0].DateText, "2026/01/12");
    EXPECT_TRUE(form.ChartPane->LabelKaikaShort->text().endsWith(QStringLiteral("円")));
    EXPECT_NE(form.ChartPane->LabelKaikaShort->text(), QStringLiteral("      0円"));
    EXPECT_NE(form.ChartPane->LabelKaikaLong->text(), QStringLiteral("      0円"));
    EXPECT_GT(form.ChartPane->ChartScale.StepX, 0);

    // What the chain drew is on screen once the command ended.
    EXPECT_EQ(form.ChartPane->ImageChart->Shown, form.ChartPane->ImageChart->Picture);
    EXPECT_NE(QColor(form.ChartPane->ImageChart->Shown.pixel(300, 100)).alpha(), 0);
    const QImage shot = form.grab().toImage();
    EXPECT_TRUE(shot.save(TestImagePath("lookup_weekly.png")));

    // The read-out shows the period under the pointer; leaving restores the quote.
    const int x = form.ChartPane->ChartScale.Left + 3;
    form.ImageChartMouseMove(x, 50);
    EXPECT_EQ(form.ChartPane->LabelTime->text(), QStringLiteral("2026/01/12"));
    EXPECT_EQ(form.ChartPane->Label1->text(), QString());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(form.ChartPane->ImageChart, &leave);
    EXPECT_EQ(form.ChartPane->LabelKabuKa->text(), QStringLiteral("  1,234"));
    EXPECT_EQ(form.ChartPane->LabelTime->text(), QStringLiteral("12/07 15:00"));

    // The daily switch loads the other history without fetching the quote again.
    const std::size_t requests = Server.Log().size();
    form.ChartLengDay->setChecked(true);
    EXPECT_EQ(FilledBarCount(form.ChartPane->ChartBars), 20);
    EXPECT_EQ(form.ChartPane->LabelKaikaLong->text(), QStringLiteral("      0円")) << "20 days hold no 25-day average";
    ASSERT_EQ(Server.Log().size(), requests + 1);
    EXPECT_NE(Server.Log().back().Target.find("&k=d"), std::string::npos);

    // A second lookup the same day reads both pages from the cache.
    form.ChartLengWeek->setChecked(true);
    const std::size_t before = Server.Log().size();
    form.KabuNoButton->click();
    EXPECT_EQ(Server.Log().size(), before);
    EXPECT_EQ(FilledBarCount(form.ChartPane->ChartBars), 47);
}

// A code of today's form typed in lower case: asked for, cached and shown in upper case,
// though the walk over the page reads the code in lower case.
TEST_F(LookupTest, ALetterCodeIsAskedForCachedAndShownInUpperCase)
{
    PageKey = "130A.t";
    PageCode = "130A";
    TMainForm form(Dialogs);
    form.show();
    QTest::keyClicks(form.KabuNoEdit, QStringLiteral("130a"));
    QTest::mouseClick(form.KabuNoButton, Qt::LeftButton);

    ASSERT_TRUE(Shown.empty()) << Shown[0].Text.toStdString();
    EXPECT_EQ(form.ChartPane->LabelKabuNo->text(), QStringLiteral("130A キヤノン"));
    EXPECT_EQ(form.ChartPane->ChartCode, "130A.t");
    EXPECT_EQ(FilledBarCount(form.ChartPane->ChartBars), 47);
    QTest::mouseClick(form.ChartLengDay, Qt::LeftButton);
    EXPECT_EQ(FilledBarCount(form.ChartPane->ChartBars), 20);
    EXPECT_EQ(DatFiles(), (std::vector<std::string>{"k130A.t.00", "k130A.t.01", "k130A.t.02"}));
    ASSERT_EQ(Server.Log().size(), 3u);
    EXPECT_NE(Server.Log()[0].Target.find("qt=130A.t&"), std::string::npos) << Server.Log()[0].Target;
}

TEST_F(LookupTest, UnknownStockSaysNoDataAndKeepsTheBoard)
{
    TMainForm form(Dialogs);
    form.show();
    form.KabuNoEdit->setText(QStringLiteral("7751"));
    form.KabuNoButton->click();
    const QString board = form.ChartPane->LabelKabuNo->text();
    form.KabuNoEdit->setText(QStringLiteral("9999"));
    form.KabuNoButton->click();
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Shown[0].Text, QStringLiteral("データがありません。"));
    EXPECT_EQ(form.ChartPane->LabelKabuNo->text(), board);
    EXPECT_TRUE(form.KabuNoButton->isEnabled());
}

// Weekly volumes of about 430 million shares a day pass 2^31: the 32-bit conversion raised the
// data error, so such a stock had no chart and every screening run stopped at it.
TEST_F(LookupTest, AHeavilyTradedStockShowsItsVolumes)
{
    QuoteVolume = "3,000,000,000";
    VolumeBase = 10000000000;
    TMainForm form(Dialogs);
    LookUp(form);

    ASSERT_TRUE(Shown.empty()) << Shown[0].Text.toStdString();
    EXPECT_EQ(form.ChartPane->Label5->text(), QStringLiteral("3,000,000,000"));
    ASSERT_EQ(FilledBarCount(form.ChartPane->ChartBars), 47);
    EXPECT_EQ(form.ChartPane->ChartBars[46].Dekidaka, 10000000000);
    EXPECT_EQ(form.ChartPane->ChartBars[0].Dekidaka, 10000004600);
    // The newest week has the smallest volume and the oldest the largest: the oldest bar
    // reaches the top of the pane.
    EXPECT_EQ(QColor(form.ChartPane->ImageDekidaka->Shown.pixel(form.ChartPane->ChartScale.Left + 3, 20)),
              QColor(0, 0, 255));
}

// The page decided which stock the board and the list rows named: a page claiming another
// code (or "/../") was shown as the stock asked for.
TEST_F(LookupTest, APageNamingAnotherStockIsNoData)
{
    TMainForm form(Dialogs);
    form.show();
    form.KabuNoEdit->setText(QStringLiteral("7751"));
    for (const char* code : {"7203", "/../"})
    {
        SCOPED_TRACE(code);
        Shown.clear();
        PageCode = code;
        std::filesystem::remove_all("dat");
        std::filesystem::create_directory("dat");
        form.KabuNoButton->click();
        ASSERT_EQ(Shown.size(), 1u);
        EXPECT_EQ(Shown[0].Text, QStringLiteral("データがありません。"));
        EXPECT_EQ(form.ChartPane->LabelKabuNo->text(), QString());
        EXPECT_EQ(FilledBarCount(form.ChartPane->ChartBars), 0);
    }
}

TEST_F(LookupTest, MissingCacheFolderGivesTheDataErrorBox)
{
    std::filesystem::remove_all(Folder / "dat");
    TMainForm form(Dialogs);
    form.show();
    form.KabuNoEdit->setText(QStringLiteral("7751"));
    form.KabuNoButton->click();
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_TRUE(Shown[0].Text.startsWith(QStringLiteral("インターネット データ エラー")));
    EXPECT_TRUE(form.KabuNoButton->isEnabled());
}

// The cache file was opened only at the first byte of the answer, so with dat/ missing an
// empty answer said "no data" although the file could never have been written.
TEST_F(LookupTest, AnEmptyAnswerIsNoDataOnlyWhereTheCacheFileCanBeMade)
{
    QuoteAnswer = TAnswer::Empty;
    TMainForm form(Dialogs);
    form.show();
    form.KabuNoEdit->setText(QStringLiteral("7751"));
    form.KabuNoButton->click();
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Shown[0].Text, QStringLiteral("データがありません。"));

    std::filesystem::remove_all(Folder / "dat");
    form.KabuNoButton->click();
    ASSERT_EQ(Shown.size(), 2u);
    EXPECT_TRUE(Shown[1].Text.startsWith(QStringLiteral("インターネット データ エラー")));
}

// A service sending a byte now and then held the lookup, and with it the program, for as
// long as it liked: the close request only set the tag and the window waited in the transfer.
TEST_F(LookupTest, ClosingTheWindowEndsATricklingLookup)
{
    using TClock = std::chrono::steady_clock;
    QuoteAnswer = TAnswer::Trickle;
    TMainForm form(Dialogs);
    TypeCode(form);
    TClock::time_point closedAt;
    CloseAfter(form, 700, closedAt);
    form.KabuNoButton->click();
    const TClock::time_point returned = TClock::now();

    EXPECT_LT(returned - closedAt, std::chrono::seconds(1));
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(Shown.empty()) << "no box after the close request";
    EXPECT_TRUE(std::filesystem::is_empty(Folder / "dat")) << "no partial page, no temporary file";
    // The service finds the connection gone within a byte or two.
    for (int i = 0; i < 150 && !TrickleBroken; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(TrickleBroken);
    EXPECT_LT(Trickled.load(), 10u);
}

// A service that accepts the request and then says nothing neither keeps the window from
// its events nor the close request waiting for the idle limit.
TEST_F(LookupTest, ClosingTheWindowEndsALookupTheServiceNeverAnswers)
{
    using TClock = std::chrono::steady_clock;
    QuoteAnswer = TAnswer::Silent;
    TMainForm form(Dialogs);
    TypeCode(form);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &form, [&] { ++ticks; });
    ticker.start(100);
    TClock::time_point closedAt;
    CloseAfter(form, 1700, closedAt);
    const TClock::time_point clicked = TClock::now();
    form.KabuNoButton->click();
    const TClock::time_point returned = TClock::now();
    SilenceOver = true;

    EXPECT_LT(returned - clicked, std::chrono::seconds(4));
    EXPECT_LT(returned - closedAt, std::chrono::seconds(1));
    EXPECT_GE(ticks, 2) << "the window handled its events while the service was silent";
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(Shown.empty()) << "no box after the close request";
    EXPECT_TRUE(std::filesystem::is_empty(Folder / "dat"));
}

} // namespace

namespace {

// Events handled in the middle of a chain repaint the chart view; they must show the last
// finished chart, not the half-drawn one.
TEST_F(LookupTest, ARepaintInTheMiddleOfAChainShowsTheFinishedChart)
{
    TMainForm form(Dialogs);
    LookUp(form);
    const QImage weekly = form.ChartPane->ImageChart->grab().toImage();

    // Every event point of the daily chain (before each candle, each marker, ...) repaints.
    int differing = 0;
    int repaints = 0;
    QTimer everyEventPoint;
    everyEventPoint.setInterval(0);
    QObject::connect(&everyEventPoint, &QTimer::timeout, &form, [&] {
        ++repaints;
        differing += form.ChartPane->ImageChart->grab().toImage() != weekly ? 1 : 0;
    });
    everyEventPoint.start();
    form.ChartLengDay->setChecked(true);
    everyEventPoint.stop();

    EXPECT_GT(repaints, 20);
    EXPECT_EQ(differing, 0);
    const QImage daily = form.ChartPane->ImageChart->grab().toImage();
    EXPECT_NE(daily, weekly);
    EXPECT_EQ(daily, form.ChartPane->ImageChart->Picture.convertToFormat(daily.format()));
}

} // namespace

namespace {

class VerdictTest : public TFormServiceTest
{
protected:
    void AddRoutes(httplib::Server& routes) override
    {
        routes.Get(QuoteRoute, [](const httplib::Request& request, httplib::Response& response) {
            TQuotePageFields fields;
            fields.Code = request.get_param_value("qt").substr(0, 4);
            response.set_content(QuotePage(fields), "text/html; charset=EUC-JP");
        });
        // 7201 ends on a signal week; 7202 rises steadily and never signals.
        routes.Get(HistoryRoute, [](const httplib::Request& request, httplib::Response& response) {
            std::vector<THistoryCells> rows = VShapedWeeks(24);
            if (request.get_param_value("qt") != "7201.t")
                for (std::size_t i = 0; i < rows.size(); ++i)
                    rows[i].Close = rows[i].Open = rows[i].High = rows[i].Low = std::to_string(2000 - i);
            response.set_content(HistoryPage(rows, 20000), "text/html; charset=EUC-JP");
        });
    }
    static bool VerdictLit(TMainForm& form)
    {
        return AnyPixel(form.ChartPane->MessageLabel->grab().toImage(), QColor(255, 255, 0));
    }
    void Show(TMainForm& form, const char* code)
    {
        form.KabuNoEdit->setText(QString::fromLatin1(code));
        QTest::mouseClick(form.KabuNoButton, Qt::LeftButton);
    }
};

// Regression: a scan without a signal left the verdict as the previous stock's left it, so a
// stock without any signal showed a lit "買いです。" after one whose newest week had a signal.
TEST_F(VerdictTest, SpeaksOfTheStockOnShow)
{
    TMainForm form(Dialogs);
    form.show();
    form.OKMessageButton->click();
    Show(form, "7201");
    ASSERT_TRUE(Shown.empty());
    EXPECT_TRUE(VerdictLit(form)) << "a signal on the newest week lights the verdict";
    Show(form, "7202");
    EXPECT_FALSE(VerdictLit(form)) << "the next stock has no signal";

    Show(form, "7201");
    EXPECT_TRUE(VerdictLit(form));
    QTest::mouseClick(form.ChartLengDay, Qt::LeftButton);
    EXPECT_TRUE(form.ChartLengDay->isChecked());
    EXPECT_FALSE(VerdictLit(form)) << "the daily view never lights it";
}

} // namespace
