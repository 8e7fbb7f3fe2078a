// The window's pixels in a fixed set of states, compared with grabs recorded from the program
// as it stood: a change of structure must leave every pixel where it was.
//
// ORVANTA_RECORD_GRABS=1 writes the references anew into the source tree instead of comparing.
// On a mismatch the grab and a difference picture go to the build folder.

#include "../form_service_test.h"
#include "test_images.h"
#include "common/service_contract.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <cstdlib>

namespace {

const std::string Tosho1 = "\x93\x8c\x8f\xd8\x82\x50\x95\x94"; // 東証１部
const std::string Jasdaq = "JASDAQ";
const std::string Machinery = "\x8b\x40\x8a\x42"; // 機械
constexpr int MachinerySector = 15;               // its place in the sector box

// A weekly or daily history, newest first, with a fall and a rise so that both averages,
// RSI and signals are drawn; `seed` varies the shape from stock to stock.
std::vector<THistoryCells> Rows(int count, int seed, bool weekly)
{
    std::vector<THistoryCells> rows;
    const std::chrono::sys_days newest{std::chrono::year{2026} / 11 / 30};
    for (int i = 0; i < count; ++i)
    {
        const int wave = (i * (3 + seed)) % 11;
        const int close = 1000 + seed * 40 + (i < 12 ? (12 - i) * 25 : i < 24 ? -(i - 12) * 15 : wave * 12);
        const std::chrono::year_month_day date{newest - std::chrono::days{(weekly ? 7 : 1) * i}};
        char text[16];
        std::snprintf(text, sizeof text, "%04d/%02u/%02u", static_cast<int>(date.year()),
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
        rows.push_back({text, std::to_string(close), std::to_string(close - 7 + wave), std::to_string(close + 18),
                        std::to_string(close - 22), std::to_string(20000 + ((i * 7919 + seed * 13) % 9000) * 10)});
    }
    return rows;
}

class WindowGrabsTest : public TFormServiceTest
{
protected:
    void SetUp() override
    {
        TFormServiceTest::SetUp();
        // A steady text cursor: a blinking one would be caught in either phase.
        QApplication::setCursorFlashTime(0);
        WriteFileBytes("KabuList.dat", "7751,a," + Tosho1 + "," + Machinery + "\r\n6301,b," + Tosho1 + "," + Machinery +
                                           "\r\n6302,c," + Jasdaq + "," + Machinery + "\r\n6303,d," + Tosho1 + "," +
                                           Machinery + "\r\n");
    }
    void TearDown() override
    {
        QApplication::setCursorFlashTime(1000);
        TFormServiceTest::TearDown();
    }
    void AddRoutes(httplib::Server& routes) override
    {
        routes.Get(QuoteRoute, [](const httplib::Request& request, httplib::Response& response) {
            const std::string key = request.get_param_value("qt");
            TQuotePageFields fields;
            fields.Code = key.substr(0, 4);
            fields.Unit = "100" + SharesEuc;
            if (key == "6303.t")
                fields.TitleNoticeEuc = NotFoundEuc;
            if (key == "6302.q")
            {
                fields.Price = "812";
                fields.Change = "-9";
                fields.Rate = "(-1.10%)";
            }
            response.set_content(QuotePage(fields), "text/html; charset=EUC-JP");
        });
        routes.Get(HistoryRoute, [](const httplib::Request& request, httplib::Response& response) {
            const std::string key = request.get_param_value("qt");
            const bool weekly = request.get_param_value("k") == "w";
            const int seed = key == "6301.t" ? 1 : key == "6302.q" ? 2 : 0;
            response.set_content(
                HistoryPage(key == "6301.t" ? VShapedWeeks(30) : Rows(weekly ? 47 : 41, seed, weekly), 20000),
                "text/html; charset=EUC-JP");
        });
    }

    //! Compares the window's grab with the recorded picture `name`, or records it.
    static void ExpectGrab(TMainForm& form, const char* name)
    {
        SCOPED_TRACE(name);
        QCoreApplication::processEvents();
        const QImage shot = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QString reference = QStringLiteral(ORVANTA_GRABS_DIR "/") + QLatin1String(name) + QStringLiteral(".png");
        if (qEnvironmentVariableIntValue("ORVANTA_RECORD_GRABS") == 1)
        {
            ASSERT_TRUE(shot.save(reference));
            return;
        }
        const QImage expected = QImage(reference).convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(expected.isNull()) << "no recorded grab " << reference.toStdString();
        ASSERT_EQ(shot.size(), expected.size());
        QImage difference(shot.size(), QImage::Format_RGB32);
        difference.fill(Qt::white);
        int differing = 0;
        QPoint first(-1, -1);
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (shot.pixel(x, y) != expected.pixel(x, y))
                {
                    if (differing++ == 0)
                        first = QPoint(x, y);
                    difference.setPixel(x, y, qRgb(255, 0, 0));
                }
        if (differing > 0)
        {
            shot.save(TestImagePath((std::string(name) + "_grab.png").c_str()));
            difference.save(TestImagePath((std::string(name) + "_difference.png").c_str()));
        }
        EXPECT_EQ(differing, 0) << "pixels differ, the first at (" << first.x() << ", " << first.y() << ")";
    }
};

TEST_F(WindowGrabsTest, EveryPixelOfTheWindowStaysWhereItWas)
{
    TMainForm form(Dialogs);
    form.show();
    ExpectGrab(form, "title_panel");

    form.OKMessageButton->click();
    form.KabuNoEdit->setText(QStringLiteral("7751"));
    form.KabuNoButton->click();
    ASSERT_TRUE(Shown.empty());
    ExpectGrab(form, "lookup_weekly");

    form.ChartLengDay->setChecked(true);
    ASSERT_TRUE(Shown.empty());
    ExpectGrab(form, "lookup_daily");

    form.ChartLengWeek->setChecked(true);
    form.KabukaSearchWin->trigger();
    form.KabuSearchBox->setCurrentIndex(MachinerySector);
    form.KabuSearchButton->click();
    ASSERT_TRUE(Shown.empty());
    ASSERT_GE(form.KabuCodeList->topLevelItemCount(), 2);
    ExpectGrab(form, "list_after_run");
}

} // namespace
