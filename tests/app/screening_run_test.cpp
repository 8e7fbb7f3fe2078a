// A screening run of the real form, every pass included, against a loopback finance service.

#include "form_service_test.h"
#include "data/web_page.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <map>

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
        routes.Get("/MnStock", [](const httplib::Request& request, httplib::Response& response) {
            const std::string key = request.get_param_value("qt");
            TQuotePageFields fields;
            fields.Code = key.substr(0, 4);
            if (key != "6301.t" && key != "6302.t")
                fields.TitleNoticeEuc = NotFoundEuc;
            response.set_content(QuotePage(fields), "text/html; charset=EUC-JP");
        });
        routes.Get("/MnStock/slast.html", [](const httplib::Request& request, httplib::Response& response) {
            const bool signal = request.get_param_value("qt") == "6301.t";
            response.set_content(HistoryPage(signal ? VShapedWeeks(30) : FlatWeeks(), 20000), "text/html; charset=EUC-JP");
        });
    }
};

TEST_F(ScreeningRunTest, ListsTheStockWhoseChartHasAPurchase)
{
    TMainForm form;
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
    TMainForm form;
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
        const QPointF at(form.ChartScale.Left + 3, 50);
        QMouseEvent move(QEvent::MouseMove, at, form.ImageChart->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(form.ImageChart, &move);
        readoutShown = readoutShown || form.LabelTime->text().startsWith(QStringLiteral("2026/"));
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
