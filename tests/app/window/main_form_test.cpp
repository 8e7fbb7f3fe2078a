#include "app/application.h"
#include "app/window/main_form.h"
#include "app/startup/startup_status.h"
#include "app/window/chart_pane.h"
#include "app/window/exception_handler.h"
#include "data/chart_source.h"
#include "../fake_dialogs.h"
#include "../form_inputs.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWheelEvent>

#include "test_images.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

const QString DataErrorText =
    QStringLiteral("インターネット データ エラー\n理由：株価データフォーマットが変更されたことによるエラーです。");

// Runs pending events until `done` holds or two seconds pass.
template <typename Predicate>
bool ProcessUntil(Predicate done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// `count` periods of the same close, newest first, weekly or daily from 2026/11/30 back.
THistoryRows ConstantRows(int count, std::int32_t close, bool weekly)
{
    THistoryRows rows;
    const std::chrono::sys_days newest{std::chrono::year{2026} / 11 / 30};
    for (int i = 0; i < count; ++i)
    {
        const std::chrono::year_month_day date{newest - std::chrono::days{(weekly ? 7 : 1) * i}};
        char text[16];
        std::snprintf(text, sizeof text, "%04d/%02u/%02u", static_cast<int>(date.year()),
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
        rows.push_back({text, close, close, close, close, 1000});
    }
    return rows;
}

// A chain source that records what the chain asks of it, can fail on demand, and answers a
// quote and constant histories whose averages are worked by hand: 10 weeks at 1,001 yen (a
// 7-week average of 1,001, too few weeks for 13) and 25 days at 1,234,567 yen (both averages
// 1,234,567).
class RecordingSource final : public TChartSource
{
public:
    std::vector<std::string> Calls;
    bool QuoteFound = true;
    std::string ThrowIn;        // "Quote" or "History"
    bool MalformedDate = false; // a history the price chart cannot draw
    std::function<void()> DuringHistory;

    TQuoteRead Quote(const std::string& key, const TProcessEvents&, const TCancelled&) override
    {
        Pass("Quote", "Quote " + key);
        TQuoteRead read;
        if (!QuoteFound)
        {
            read.Miss = TQuoteMiss::NotFound;
            return read;
        }
        TKabuQuote quote;
        quote.KabuNo = key.substr(0, 4);
        quote.KabuName = "x";
        quote.KabuKa = 1000 * FixedPointOne;
        quote.Tani = FixedPointOne;
        quote.KabuTime = "12/07 15:00";
        read.Quote = quote;
        return read;
    }
    THistoryRows History(const std::string& key, TChartPeriod period, std::int64_t, const TProcessEvents&,
                         const TCancelled&) override
    {
        const bool weekly = period == TChartPeriod::Weekly;
        if (DuringHistory)
            DuringHistory();
        Pass("History", "History " + key + (weekly ? " weekly" : " daily"));
        THistoryRows rows = weekly ? ConstantRows(10, 1001, true) : ConstantRows(25, 1234567, false);
        if (MalformedDate)
            rows[3].DateText = "xxxx/xx/xx";
        return rows;
    }

private:
    void Pass(const std::string& pass, const std::string& call)
    {
        Calls.push_back(call);
        if (pass == ThrowIn)
            throw std::runtime_error("figure does not convert: " + call);
    }
};

// A form on the recording source, its questions answered by fakes.
struct RecordingWindow
{
    TFakeDialogs Dialogs;
    RecordingSource Source;
    TMainForm Form{Dialogs, &Source};
};

TEST(TImageSurface, PicturesHandedOverKeepTheirPixelsWhileThePaneIsDrawnAgain)
{
    // As a run hands its panes to the chart archive: the shown picture is shared for every
    // listed stock while the pane goes on to the next. A few of those are let go of again,
    // as the archive does once it has encoded them, so the pane draws on them again.
    QWidget parent;
    TImageSurface surface(&parent, 40, 30);
    std::vector<QImage> held;
    std::vector<QColor> colours;
    QColor previous;
    for (int i = 0; i < 40; ++i)
    {
        const QColor colour(i * 6, 255 - i * 6, (i * 37) % 256);
        if (i % 4 != 1)
            surface.Restart(); // most passes draw the pane whole
        {
            QPainter painter(&surface.Picture);
            painter.fillRect(i % 4 == 1 ? QRect(0, 0, 40, 20) : surface.Picture.rect(), colour);
        }
        surface.Present();
        ASSERT_EQ(surface.Shown, surface.Picture) << i;
        held.push_back(surface.Shown);
        colours.push_back(colour);
        if (i % 3 == 0)
        {
            held.erase(held.begin()); // encoded: the archive lets go
            colours.erase(colours.begin());
        }
        for (std::size_t k = 0; k < held.size(); ++k)
            ASSERT_EQ(held[k].pixelColor(20, 15), colours[k]) << "picture " << k << " after presenting " << i;
        // A pass over part of the pane keeps the rest as last shown.
        if (i % 4 == 1)
        {
            ASSERT_EQ(surface.Shown.pixelColor(20, 25), previous) << i;
        }
        previous = colour;
    }
}

TEST(MainForm, StartsInTheChartViewWithTheTitlePanelInFront)
{
    TMainForm form;
    form.show();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Orvanta(おるばんた) Ver1.6a"));
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("Orvanta(おるばんた)"));
    EXPECT_EQ(form.StaticText3->text(), QStringLiteral("Ver1.6a"));
    EXPECT_EQ(FormatSettings.ShortDateFormat, QStringLiteral("yyyy/MM/dd"));
    EXPECT_EQ(FormatSettings.LongTimeFormat, QStringLiteral("hh:mm:ss"));

    EXPECT_TRUE(form.InputPanel->isVisible());
    EXPECT_FALSE(form.KabuSearchPanel->isVisible());
    EXPECT_FALSE(form.CodePanel->isVisible());
    EXPECT_TRUE(form.KabuPanel->isVisible());
    EXPECT_EQ(form.ShijouBox->currentText(), QStringLiteral("東証"));
    EXPECT_EQ(form.KabuSearchBox->currentText(), QStringLiteral("全て"));
    EXPECT_EQ(form.KabuSearchBox->count(), 35);
    EXPECT_TRUE(form.ChartLengWeek->isChecked());
    EXPECT_FALSE(form.ChartLengDay->isChecked());
    for (QLabel* value :
         {form.ChartPane->LabelKabuNo, form.ChartPane->LabelKabuKa, form.ChartPane->Label1, form.ChartPane->Label2,
          form.ChartPane->Label3, form.ChartPane->Label4, form.ChartPane->Label5, form.ChartPane->LabelTani})
        EXPECT_TRUE(value->text().isEmpty()) << value->objectName().toStdString();
    EXPECT_FALSE(form.ChartPane->LabelTani->isVisible());
    EXPECT_FALSE(form.RSI30Check->isVisible());
    EXPECT_EQ(form.ChartPane->LabelTime->text(), QStringLiteral(" ---------- --:-- "));
    EXPECT_EQ(form.ChartPane->LabelKaikaShort->text(), QStringLiteral("0円"));
    EXPECT_EQ(form.ChartPane->LabelKaikaLong->text(), QStringLiteral("0円"));
    EXPECT_EQ(form.ChartPane->Label13->text(), QStringLiteral("　７週平均"));
    EXPECT_EQ(form.ChartPane->MessageLabel->text(), QStringLiteral("買いです。"));
    EXPECT_EQ(form.KabuNoEdit->maxLength(), 5);
    EXPECT_FALSE(form.CloseCodeButton->isEnabled());
    EXPECT_FALSE(form.CopyCodeButton->isEnabled());
    EXPECT_TRUE(form.CloseKabuButton->isEnabled());
    EXPECT_EQ(form.KabuCodeList->columnCount(), 21);
    EXPECT_EQ(form.KabuCodeListTag, 1);
    EXPECT_EQ(form.Tag, 0);

    // The title panel is shown and nothing covers its middle.
    ASSERT_TRUE(form.TaytolPanel->isVisible());
    QWidget* atCentre = form.centralWidget()->childAt(form.TaytolPanel->geometry().center());
    EXPECT_TRUE(atCentre == form.TaytolPanel || form.TaytolPanel->isAncestorOf(atCentre));
    EXPECT_TRUE(form.TaitolTimer->isActive());
    EXPECT_EQ(form.TaitolTimer->interval(), 10000);
}

TEST(MainForm, TheCaptionSaysWhenTheServiceServesSampleData)
{
    struct Row
    {
        const char* name;
        bool known;
        bool sample;
        QString caption;
    };
    const Row rows[] = {
        {"sample market", true, true, QStringLiteral("Orvanta(おるばんた) Ver1.6a（サンプルデータ）")},
        {"real data", true, false, QStringLiteral("Orvanta(おるばんた) Ver1.6a")},
        {"a service that does not say", false, true, QStringLiteral("Orvanta(おるばんた) Ver1.6a")},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        TServiceStatus status;
        status.Known = row.known;
        status.Sample = row.sample;
        SetCurrentServiceStatus(status);
        TMainForm form;
        form.show();
        EXPECT_EQ(form.windowTitle(), row.caption);
    }
    SetCurrentServiceStatus({});
}

TEST(MainForm, LayoutPlacesTheControlsWhereTheyBelong)
{
    TMainForm form;
    form.show();
    EXPECT_EQ(form.size(), QSize(963, 693));
    EXPECT_EQ(form.KabuPanel->geometry(), QRect(0, 41, 929, 448));
    // The chart view's panels, in the view's coordinates.
    const auto inView = [&form](const QWidget* panel) {
        return QRect(panel->mapTo(form.KabuPanel, QPoint(0, 0)), panel->size());
    };
    EXPECT_EQ(inView(form.ChartPane->KabuKaPanel), QRect(0, 18, 185, 179));
    EXPECT_EQ(inView(form.ChartPane->ChartPanel), QRect(185, 18, 648, 429));
    EXPECT_EQ(form.ChartPane->ImageChart->geometry(), QRect(8, 8, 633, 225));
    EXPECT_EQ(form.ChartPane->ImageDekidaka->geometry(), QRect(8, 232, 633, 73));
    EXPECT_EQ(form.ChartPane->ImageRSI->geometry(), QRect(8, 304, 633, 121));
    EXPECT_EQ(form.ChartPane->LabelKabuNo->geometry(), QRect(60, 16, 119, 12));
    EXPECT_EQ(form.ChartPane->LabelKabuKa->geometry(), QRect(72, 32, 98, 12));
    EXPECT_EQ(form.TaytolPanel->geometry(), QRect(152, 171, 670, 262));
    EXPECT_EQ(form.TopPanel->height(), 41);
    EXPECT_EQ(form.BottomPanel->geometry().bottom(), form.centralWidget()->height() - 1);
    EXPECT_EQ(form.CodePanel->geometry().top(), 41);
    EXPECT_EQ(form.CodePanel->geometry().bottom(), form.BottomPanel->geometry().top() - 1);
    EXPECT_EQ(form.KabuCodeList->columnWidth(0), 120);
    EXPECT_EQ(form.KabuCodeList->columnWidth(4), 2);
    EXPECT_EQ(form.KabuCodeList->columnWidth(8), 0);
    EXPECT_EQ(form.KabuCodeList->headerItem()->text(16), QStringLiteral("1株あたり益"));
}

TEST(MainForm, EveryLabelShowsPlainText)
{
    TMainForm form;
    form.show();
    for (QLabel* label : form.findChildren<QLabel*>())
    {
        if (label != form.Image1)
        {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
        }
    }
    form.ChartPane->LabelKabuNo->setText(QStringLiteral("1301 <b>x</b>"));
    EXPECT_EQ(form.ChartPane->LabelKabuNo->text(), QStringLiteral("1301 <b>x</b>"));
}

TEST(MainForm, TitlePanelHidesByTimerAndByButtonAndComesBackByAbout)
{
    TMainForm form;
    form.show();
    // Shorten the wait; the interval itself is checked in the start-state test.
    form.TaitolTimer->setInterval(30);
    form.TaitolTimer->start();
    EXPECT_TRUE(ProcessUntil([&] { return !form.TaytolPanel->isVisible(); }));
    EXPECT_FALSE(form.TaitolTimer->isActive()) << "the timer fires once";

    form.About1->trigger();
    EXPECT_TRUE(form.TaytolPanel->isVisible());
    EXPECT_TRUE(form.TaitolTimer->isActive());
    EXPECT_TRUE(ProcessUntil([&] { return !form.TaytolPanel->isVisible(); }));

    form.TaitolTimer->setInterval(10000);
    form.About1->trigger();
    ASSERT_TRUE(form.TaytolPanel->isVisible());
    form.OKMessageButton->click();
    EXPECT_FALSE(form.TaytolPanel->isVisible());
    EXPECT_FALSE(form.TaitolTimer->isActive());
}

TEST(MainForm, ViewSwitchingFollowsTheTable)
{
    TMainForm form;
    form.show();
    struct State
    {
        bool Input, Search, Code, CloseCode, Copy, CloseKabu;
    };
    const State chart{true, false, false, false, false, true};
    const State list{false, true, true, true, true, false};
    const auto check = [&](const State& s, const char* after) {
        SCOPED_TRACE(after);
        EXPECT_EQ(form.InputPanel->isVisible(), s.Input);
        EXPECT_EQ(form.KabuSearchPanel->isVisible(), s.Search);
        EXPECT_EQ(form.CodePanel->isVisible(), s.Code);
        EXPECT_EQ(form.CloseCodeButton->isEnabled(), s.CloseCode);
        EXPECT_EQ(form.CopyCodeButton->isEnabled(), s.Copy);
        EXPECT_EQ(form.CloseKabuButton->isEnabled(), s.CloseKabu);
        EXPECT_TRUE(form.KabuPanel->isVisible()) << "the chart view is never hidden, only covered";
    };
    form.KabukaChartWin->trigger();
    check(chart, "chart menu in the chart view");
    form.KabukaSearchWin->trigger();
    check(list, "list menu");
    form.KabukaSearchWin->trigger();
    check(list, "list menu again");
    form.CloseCodeButton->click();
    check(chart, "Close on the list view");
    form.CloseKabuButton->click();
    check(list, "Close on the chart view");
    form.KabukaChartWin->trigger();
    check(chart, "chart menu");
}

TEST(MainForm, KeyStrokesNeverChangeTheComboBoxes)
{
    TMainForm form;
    form.show();
    form.ShijouBox->setCurrentIndex(2);
    form.KabuSearchBox->setCurrentIndex(7);
    const int keys[] = {Qt::Key_Down,     Qt::Key_Up, Qt::Key_End, Qt::Key_Home,
                        Qt::Key_PageDown, Qt::Key_A,  Qt::Key_1,   Qt::Key_Space};
    for (QComboBox* box : {form.ShijouBox, form.KabuSearchBox})
    {
        const int before = box->currentIndex();
        for (int key : keys)
            for (QObject* target : {static_cast<QObject*>(box), static_cast<QObject*>(box->view())})
            {
                const QString text = key == Qt::Key_A   ? QStringLiteral("a")
                                     : key == Qt::Key_1 ? QStringLiteral("1")
                                                        : QString();
                QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
                QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
                QCoreApplication::sendEvent(target, &press);
                QCoreApplication::sendEvent(target, &release);
            }
        EXPECT_EQ(box->currentIndex(), before) << box->objectName().toStdString();
    }
}

// Regression: the boxes swallowed Tab and Backtab too, so a keyboard user could not leave
// them, and a wheel turn over a box changed its selection.
TEST(MainForm, TabLeavesTheComboBoxesAndTheWheelChangesNothing)
{
    TMainForm form;
    form.show();
    form.OKMessageButton->click();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    for (const bool listView : {false, true})
    {
        if (listView)
            form.KabukaSearchWin->trigger();
        QComboBox* box = listView ? form.KabuSearchBox : form.ShijouBox;
        SCOPED_TRACE(box->objectName().toStdString());
        box->setCurrentIndex(3);
        for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab})
        {
            box->setFocus(Qt::OtherFocusReason);
            ASSERT_TRUE(box->hasFocus());
            QTest::keyClick(box, key, key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
            EXPECT_FALSE(box->hasFocus()) << (key == Qt::Key_Tab ? "Tab" : "Backtab") << " moves the focus on";
        }
        for (const int delta : {-120, 120, -120})
        {
            const QPointF inside(box->width() / 2.0, box->height() / 2.0);
            QWheelEvent wheel(inside, box->mapToGlobal(inside), QPoint(), QPoint(0, delta), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(box, &wheel);
        }
        EXPECT_EQ(box->currentIndex(), 3) << "the wheel does not choose";
    }
}

TEST(MainForm, CodeCheckAnswersWithTheInformationBox)
{
    struct Row
    {
        const char* name;
        QString code;
        bool periodButton;
        QString message;
    };
    const QString digits = QStringLiteral("銘柄番号は半角数字で入力してください。");
    const QString four = QStringLiteral("銘柄番号は４桁で入力してください。");
    const Row rows[] = {
        {"empty", QString(), false, four},
        {"three digits", QStringLiteral("123"), false, four},
        {"full-width digits", QStringLiteral("１２３４"), false, digits},
        {"letter inside", QStringLiteral("12a4"), false, digits},
        {"five characters with a letter", QStringLiteral("1234a"), false, digits},
        {"five digits on the period button", QStringLiteral("12345"), true, four},
        {"letter O, never used", QStringLiteral("13OA"), false, digits},
        {"letter E, never used", QStringLiteral("1E00"), false, digits},
        {"full-width letter", QStringLiteral("130Ａ"), false, digits},
        {"letter in the third place", QStringLiteral("13A0"), true, digits},
        {"five characters of today's form", QStringLiteral("130A1"), false, digits},
        {"three characters with a letter", QStringLiteral("13A"), false, digits},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        RecordingWindow window;
        TMainForm& form = window.Form;
        form.show();
        form.KabuNoEdit->setText(row.code);
        if (row.periodButton)
            form.ChartLengDay->setChecked(true);
        else
            form.KabuNoButton->click();
        ASSERT_EQ(window.Dialogs.Shown.size(), 1u);
        EXPECT_EQ(window.Dialogs.Shown[0].Caption, QStringLiteral("情報"));
        EXPECT_EQ(window.Dialogs.Shown[0].Icon, QMessageBox::Information);
        EXPECT_EQ(window.Dialogs.Shown[0].Text, row.message);
        EXPECT_TRUE(window.Source.Calls.empty()) << "nothing is fetched or drawn";
        EXPECT_EQ(InputStates(form), std::vector<bool>(7, true));
    }
}

TEST(MainForm, LookupRunsTheChainInOrderWithTheControlsLocked)
{
    RecordingWindow window;
    TMainForm& form = window.Form;
    std::vector<bool> enabledDuringHistory;
    window.Source.DuringHistory = [&] { enabledDuringHistory = InputStates(form); };
    form.show();
    form.KabuNoEdit->setText(QStringLiteral("1301"));
    form.KabuNoButton->click();
    EXPECT_EQ(window.Source.Calls, (std::vector<std::string>{"Quote 1301.t", "History 1301.t weekly"}));
    EXPECT_EQ(enabledDuringHistory, std::vector<bool>(7, false));
    EXPECT_EQ(InputStates(form), std::vector<bool>(7, true));
    EXPECT_TRUE(window.Dialogs.Shown.empty());
    EXPECT_EQ(form.ChartPane->Label13->text(), QStringLiteral("　７週平均"));
    EXPECT_EQ(form.ChartPane->LabelKaikaShort->text(), QStringLiteral("   1001円"));
    EXPECT_EQ(form.ChartPane->Label14->text(), QStringLiteral("１３週平均"));
    EXPECT_EQ(form.ChartPane->LabelKaikaLong->text(), QStringLiteral("      0円"))
        << "10 weeks hold no 13-week average";

    // The period switch redraws the code in the box without reading the quote again, for the
    // newly checked period, and leaves the screening bar's controls alone.
    window.Source.Calls.clear();
    form.ShijouBox->setCurrentIndex(5);
    form.KabuNoEdit->setText(QStringLiteral("0001"));
    form.ChartLengDay->setChecked(true);
    EXPECT_EQ(window.Source.Calls, std::vector<std::string>{"History 0001   daily"});
    EXPECT_EQ(enabledDuringHistory, (std::vector<bool>{false, false, false, false, false, true, true}));
    EXPECT_EQ(form.ChartPane->Label13->text(), QStringLiteral("　７日平均"));
    EXPECT_EQ(form.ChartPane->LabelKaikaShort->text(), QStringLiteral("1234567円"));
    EXPECT_EQ(form.ChartPane->Label14->text(), QStringLiteral("１３日平均"));
    EXPECT_EQ(form.ChartPane->LabelKaikaLong->text(), QStringLiteral("1234567円"));

    // Clicking the button that is already checked runs nothing.
    window.Source.Calls.clear();
    form.ChartLengDay->click();
    EXPECT_TRUE(window.Source.Calls.empty());
}

// Codes of today's form carry letters in the 2nd and 4th place; a letter typed in lower case
// is taken in upper case, for "表示" and for the period buttons.
TEST(MainForm, LetterCodesPassTheCheckInUpperCase)
{
    RecordingWindow window;
    TMainForm& form = window.Form;
    form.show();
    QTest::keyClicks(form.KabuNoEdit, QStringLiteral("130a"));
    QTest::mouseClick(form.KabuNoButton, Qt::LeftButton);
    ASSERT_TRUE(window.Dialogs.Shown.empty());
    ASSERT_GE(window.Source.Calls.size(), 2u);
    EXPECT_EQ(window.Source.Calls[0], "Quote 130A.t");
    EXPECT_EQ(window.Source.Calls[1], "History 130A.t weekly");

    window.Source.Calls.clear();
    form.KabuNoEdit->clear();
    QTest::keyClicks(form.KabuNoEdit, QStringLiteral("9a7A"));
    form.ShijouBox->setCurrentIndex(3);
    QTest::mouseClick(form.ChartLengDay, Qt::LeftButton);
    ASSERT_TRUE(window.Dialogs.Shown.empty());
    ASSERT_FALSE(window.Source.Calls.empty());
    EXPECT_EQ(window.Source.Calls[0], "History 9A7A.n daily");
}

TEST(MainForm, NoQuoteSaysSoAndKeepsTheChart)
{
    RecordingWindow window;
    TMainForm& form = window.Form;
    window.Source.QuoteFound = false;
    form.show();
    form.ChartPane->LabelKaikaShort->setText(QStringLiteral("    500円"));
    form.KabuNoEdit->setText(QStringLiteral("12345"));
    form.ShijouBox->setCurrentIndex(2);
    form.KabuNoButton->click();
    EXPECT_EQ(window.Source.Calls, std::vector<std::string>{"Quote 12345.q"});
    ASSERT_EQ(window.Dialogs.Shown.size(), 1u);
    EXPECT_EQ(window.Dialogs.Shown[0].Text, QStringLiteral("データがありません。"));
    EXPECT_EQ(window.Dialogs.Shown[0].Caption, QStringLiteral("情報"));
    EXPECT_EQ(form.ChartPane->LabelKaikaShort->text(), QStringLiteral("    500円"));
    EXPECT_EQ(InputStates(form), std::vector<bool>(7, true));
}

TEST(MainForm, AFailingPassShowsOnlyTheDataErrorBoxAndUnlocksTheControls)
{
    struct Row
    {
        const char* name;
        const char* throwIn;
        bool malformedDate;
        std::string lastCall;
    };
    const Row rows[] = {
        {"the quote", "Quote", false, "Quote 1301.t"},
        {"the history", "History", false, "History 1301.t weekly"},
        {"the price chart, on a date it cannot read", "", true, "History 1301.t weekly"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        RecordingWindow window;
        TMainForm& form = window.Form;
        window.Source.ThrowIn = row.throwIn;
        window.Source.MalformedDate = row.malformedDate;
        form.show();
        form.KabuNoEdit->setText(QStringLiteral("1301"));
        form.KabuNoButton->click();
        ASSERT_EQ(window.Dialogs.Shown.size(), 1u);
        EXPECT_EQ(window.Dialogs.Shown[0].Text, DataErrorText);
        EXPECT_EQ(window.Dialogs.Shown[0].Caption, QStringLiteral("Orvanta(おるばんた)"));
        EXPECT_EQ(window.Dialogs.Shown[0].Icon, QMessageBox::NoIcon);
        EXPECT_EQ(window.Source.Calls.back(), row.lastCall) << "the chain stops at the failing pass";
        EXPECT_EQ(form.ChartPane->LabelKaikaShort->text(), QStringLiteral("0円")) << "no average was drawn";
        EXPECT_EQ(InputStates(form), std::vector<bool>(7, true));
        EXPECT_TRUE(form.isVisible());
    }

    RecordingWindow window;
    TMainForm& form = window.Form;
    form.show();
    window.Source.MalformedDate = true;
    form.KabuNoEdit->setText(QStringLiteral("1301"));
    form.KabuSearchButton->setEnabled(false); // not one of the period switch's controls
    form.ChartLengDay->setChecked(true);
    ASSERT_EQ(window.Dialogs.Shown.size(), 1u);
    EXPECT_EQ(window.Dialogs.Shown[0].Text, DataErrorText);
    EXPECT_EQ(InputStates(form), (std::vector<bool>{true, true, true, true, true, true, false}));
}

TEST(MainForm, PeriodSwitchDoesNothingWhileTheScreeningBarIsUp)
{
    RecordingWindow window;
    TMainForm& form = window.Form;
    form.show();
    form.KabukaSearchWin->trigger();
    form.KabuNoEdit->setText(QStringLiteral("1301"));
    form.ChartLengDay->setChecked(true);
    EXPECT_TRUE(window.Source.Calls.empty());
    EXPECT_TRUE(window.Dialogs.Shown.empty());
}

TEST(MainForm, ClosingSetsTheTagAndHomePageGoesToTheUrlOpener)
{
    TFakeDialogs dialogs;
    TMainForm form(dialogs);
    form.show();
    form.QuillonSoftwareHomePage1->trigger();
    ASSERT_EQ(dialogs.Opened.size(), 1u);
    EXPECT_TRUE(dialogs.Opened[0].startsWith(QStringLiteral("https://")));
    EXPECT_TRUE(form.close());
    EXPECT_EQ(form.Tag, ClosingTag);
}

TEST(MainForm, ExceptionsOutsideACommandReachTheDataErrorBox)
{
    TFakeDialogs dialogs;
    TMainForm form(dialogs);
    form.show();
    ASSERT_TRUE(UnhandledExceptionHandler()) << "installed when the window is shown";
    QTimer::singleShot(0, &form, [] { throw std::runtime_error("escaped"); });
    EXPECT_TRUE(ProcessUntil([&] { return !dialogs.Shown.empty(); }));
    ASSERT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_EQ(dialogs.Shown[0].Text, DataErrorText);
}

// Regression: the handler a shown window installed stayed when the window went, and the next
// exception outside a command reached a form that no longer existed.
TEST(MainForm, AWindowThatGoesTakesItsExceptionHandlerWithIt)
{
    TFakeDialogs dialogs;
    auto first = std::make_unique<TMainForm>(dialogs);
    first->show();
    {
        TMainForm second(dialogs);
        second.show();
        first.reset(); // the second window's handler stays
        QTimer::singleShot(0, &second, [] { throw std::runtime_error("escaped"); });
        EXPECT_TRUE(ProcessUntil([&] { return !dialogs.Shown.empty(); }));
        EXPECT_EQ(dialogs.Shown.size(), 1u);
    }
    EXPECT_FALSE(UnhandledExceptionHandler()) << "no handler reaches a window that is gone";
}

// IPA P Gothic is wider than the layout's face: "　７週平均" lost its last character to its
// 52-pixel label. The captions keep their places and end inside them.
TEST(MainForm, LegendCaptionsFitTheirLabels)
{
    TMainForm form;
    form.show();
    for (QLabel* label : {form.ChartPane->Label13, form.ChartPane->Label14})
    {
        SCOPED_TRACE(label->text().toStdString());
        const QImage image = label->grab().toImage();
        int rightmostInk = -1;
        for (int x = 0; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y)
                if (QColor(image.pixel(x, y)) != QColor(51, 51, 51))
                    rightmostInk = x;
        EXPECT_EQ(image.width(), 52);
        EXPECT_LT(rightmostInk, 51) << "the caption is cut at the label's edge";
        EXPECT_GE(rightmostInk, 44) << "the caption shrank more than it had to";
    }
}

TEST(MainForm, ScreenshotShowsTheLayoutColours)
{
    TMainForm form;
    form.show();
    form.OKMessageButton->click();
    const QImage shot = form.grab().toImage();
    EXPECT_TRUE(shot.save(TestImagePath("main_form.png")));

    const QPoint client = form.centralWidget()->mapTo(&form, QPoint(0, 0));
    const auto pixel = [&](int x, int y) { return QColor(shot.pixel(client + QPoint(x, y))); };
    EXPECT_EQ(pixel(100, 41 + 8), QColor(0, 0, 128)) << "the navy title strip of the chart view";
    EXPECT_EQ(pixel(2, 41 + 18 + 2), QColor(0, 0, 0)) << "the black quote board";
    EXPECT_EQ(pixel(9, 41 + 18 + 33), QColor(51, 51, 51)) << "a caption label's background";
    EXPECT_EQ(pixel(185 + 2, 41 + 18 + 2), QColor(68, 68, 68)) << "the chart panel";
    EXPECT_EQ(pixel(185 + 644, 41 + 18 + 300), QColor(68, 68, 68)) << "the chart panel's right margin";
}

} // namespace
