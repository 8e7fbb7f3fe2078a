#include "app/application.h"
#include "app/window/main_form.h"
#include "app/startup/startup_status.h"

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

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace {

const QString DataErrorText =
    QStringLiteral("インターネット データ エラー\n理由：株価データフォーマットが変更されたことによるエラーです。");

// Captures message boxes instead of showing them, for the length of one test.
class MessageCapture
{
public:
    MessageCapture()
    {
        TMainForm::MessageBoxHook = [this](const TMessageBoxRequest& request) { Shown.push_back(request); };
        TMainForm::OpenUrlHook = [this](const QString& url) { Opened.push_back(url); };
    }
    ~MessageCapture()
    {
        TMainForm::MessageBoxHook = nullptr;
        TMainForm::OpenUrlHook = nullptr;
    }
    std::vector<TMessageBoxRequest> Shown;
    std::vector<QString> Opened;
};

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

// A form whose passes record the order they run in and can fail on demand.
class RecordingForm : public TMainForm
{
public:
    std::vector<std::string> Calls;
    bool QuoteFound = true;
    std::string ThrowIn;
    std::vector<bool> EnabledDuringPass; // every input control's state during the history pass

    void Pass(const std::string& name)
    {
        Calls.push_back(name);
        if (name == ThrowIn)
            throw std::runtime_error("figure does not convert: " + name);
    }

protected:
    bool GetKabuKa(const std::string& key) override
    {
        Pass("GetKabuKa " + key);
        return QuoteFound;
    }
    void GetChartData(const std::string& key) override
    {
        EnabledDuringPass.clear();
        for (QWidget* control : std::initializer_list<QWidget*>{KabuNoButton, KabuNoEdit, ShijouBox, ChartLengDay,
                                                                ChartLengWeek, KabuSearchBox, KabuSearchButton})
            EnabledDuringPass.push_back(control->isEnabled());
        Pass("GetChartData " + key);
    }
    void DrawChartData() override { Pass("DrawChartData"); }
    int CalcAverageRsi(TAverageInstance instance) override
    {
        static const char* const names[] = {"ShortWeek", "LongWeek", "ShortDay", "LongDay"};
        static const int results[] = {1001, 0, 25, 1234567};
        Pass(std::string("CalcAverageRsi ") + names[static_cast<int>(instance)]);
        return results[static_cast<int>(instance)];
    }
    int FindBuySignals(bool weekly) override
    {
        Pass(weekly ? "FindBuySignals weekly" : "FindBuySignals daily");
        return 0;
    }
    void DrawDekidakaData() override { Pass("DrawDekidakaData"); }
};

std::vector<bool> InputStates(const TMainForm& form)
{
    std::vector<bool> states;
    for (QWidget* control : std::initializer_list<QWidget*>{form.KabuNoButton, form.KabuNoEdit, form.ShijouBox,
                                                            form.ChartLengDay, form.ChartLengWeek, form.KabuSearchBox,
                                                            form.KabuSearchButton})
        states.push_back(control->isEnabled());
    return states;
}

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
    for (QLabel* value : {form.LabelKabuNo, form.LabelKabuKa, form.Label1, form.Label2, form.Label3, form.Label4,
                          form.Label5, form.LabelTani})
        EXPECT_TRUE(value->text().isEmpty()) << value->objectName().toStdString();
    EXPECT_FALSE(form.LabelTani->isVisible());
    EXPECT_FALSE(form.RSI30Check->isVisible());
    EXPECT_EQ(form.LabelTime->text(), QStringLiteral(" ---------- --:-- "));
    EXPECT_EQ(form.LabelKaikaShort->text(), QStringLiteral("0円"));
    EXPECT_EQ(form.LabelKaikaLong->text(), QStringLiteral("0円"));
    EXPECT_EQ(form.Label13->text(), QStringLiteral("　７週平均"));
    EXPECT_EQ(form.MessageLabel->text(), QStringLiteral("買いです。"));
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
    EXPECT_EQ(form.KabuKaPanel->geometry(), QRect(0, 18, 185, 179));
    EXPECT_EQ(form.ChartPanel->geometry(), QRect(185, 18, 648, 429));
    EXPECT_EQ(form.ImageChart->geometry(), QRect(8, 8, 633, 225));
    EXPECT_EQ(form.ImageDekidaka->geometry(), QRect(8, 232, 633, 73));
    EXPECT_EQ(form.ImageRSI->geometry(), QRect(8, 304, 633, 121));
    EXPECT_EQ(form.LabelKabuNo->geometry(), QRect(60, 16, 119, 12));
    EXPECT_EQ(form.LabelKabuKa->geometry(), QRect(72, 32, 98, 12));
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
    form.LabelKabuNo->setText(QStringLiteral("1301 <b>x</b>"));
    EXPECT_EQ(form.LabelKabuNo->text(), QStringLiteral("1301 <b>x</b>"));
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
    const int keys[] = {Qt::Key_Down, Qt::Key_Up, Qt::Key_End, Qt::Key_Home, Qt::Key_PageDown, Qt::Key_A, Qt::Key_1,
                        Qt::Key_Space};
    for (QComboBox* box : {form.ShijouBox, form.KabuSearchBox})
    {
        const int before = box->currentIndex();
        for (int key : keys)
            for (QObject* target : {static_cast<QObject*>(box), static_cast<QObject*>(box->view())})
            {
                const QString text = key == Qt::Key_A ? QStringLiteral("a") : key == Qt::Key_1 ? QStringLiteral("1") : QString();
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
        MessageCapture capture;
        RecordingForm form;
        form.show();
        form.KabuNoEdit->setText(row.code);
        if (row.periodButton)
            form.ChartLengDay->setChecked(true);
        else
            form.KabuNoButton->click();
        ASSERT_EQ(capture.Shown.size(), 1u);
        EXPECT_EQ(capture.Shown[0].Caption, QStringLiteral("情報"));
        EXPECT_EQ(capture.Shown[0].Icon, QMessageBox::Information);
        EXPECT_EQ(capture.Shown[0].Text, row.message);
        EXPECT_TRUE(form.Calls.empty()) << "nothing is fetched or drawn";
        EXPECT_EQ(InputStates(form), std::vector<bool>(7, true));
    }
}

TEST(MainForm, LookupRunsTheChainInOrderWithTheControlsLocked)
{
    MessageCapture capture;
    RecordingForm form;
    form.show();
    form.KabuNoEdit->setText(QStringLiteral("1301"));
    form.KabuNoButton->click();
    const std::vector<std::string> weekly = {"GetKabuKa 1301.t",       "GetChartData 1301.t",
                                             "DrawChartData",          "CalcAverageRsi ShortWeek",
                                             "CalcAverageRsi LongWeek", "FindBuySignals weekly",
                                             "DrawDekidakaData"};
    EXPECT_EQ(form.Calls, weekly);
    EXPECT_EQ(form.EnabledDuringPass, std::vector<bool>(7, false));
    EXPECT_EQ(InputStates(form), std::vector<bool>(7, true));
    EXPECT_TRUE(capture.Shown.empty());
    EXPECT_EQ(form.Label13->text(), QStringLiteral("　７週平均"));
    EXPECT_EQ(form.LabelKaikaShort->text(), QStringLiteral("   1001円"));
    EXPECT_EQ(form.Label14->text(), QStringLiteral("１３週平均"));
    EXPECT_EQ(form.LabelKaikaLong->text(), QStringLiteral("      0円"));

    // The period switch redraws the code in the box without fetching the quote, for the
    // newly checked period, and leaves the screening bar's controls alone.
    form.Calls.clear();
    form.ShijouBox->setCurrentIndex(5);
    form.KabuNoEdit->setText(QStringLiteral("0001"));
    form.ChartLengDay->setChecked(true);
    const std::vector<std::string> daily = {"GetChartData 0001  ",   "DrawChartData",        "CalcAverageRsi ShortDay",
                                            "CalcAverageRsi LongDay", "FindBuySignals daily", "DrawDekidakaData"};
    EXPECT_EQ(form.Calls, daily);
    EXPECT_EQ(form.EnabledDuringPass, (std::vector<bool>{false, false, false, false, false, true, true}));
    EXPECT_EQ(form.Label13->text(), QStringLiteral("　７日平均"));
    EXPECT_EQ(form.LabelKaikaShort->text(), QStringLiteral("     25円"));
    EXPECT_EQ(form.Label14->text(), QStringLiteral("１３日平均"));
    EXPECT_EQ(form.LabelKaikaLong->text(), QStringLiteral("1234567円"));

    // Clicking the button that is already checked runs nothing.
    form.Calls.clear();
    form.ChartLengDay->click();
    EXPECT_TRUE(form.Calls.empty());
}

// Codes of today's form carry letters in the 2nd and 4th place; a letter typed in lower case
// is taken in upper case, for "表示" and for the period buttons.
TEST(MainForm, LetterCodesPassTheCheckInUpperCase)
{
    MessageCapture capture;
    RecordingForm form;
    form.show();
    QTest::keyClicks(form.KabuNoEdit, QStringLiteral("130a"));
    QTest::mouseClick(form.KabuNoButton, Qt::LeftButton);
    ASSERT_TRUE(capture.Shown.empty());
    ASSERT_GE(form.Calls.size(), 2u);
    EXPECT_EQ(form.Calls[0], "GetKabuKa 130A.t");
    EXPECT_EQ(form.Calls[1], "GetChartData 130A.t");

    form.Calls.clear();
    form.KabuNoEdit->clear();
    QTest::keyClicks(form.KabuNoEdit, QStringLiteral("9a7A"));
    form.ShijouBox->setCurrentIndex(3);
    QTest::mouseClick(form.ChartLengDay, Qt::LeftButton);
    ASSERT_TRUE(capture.Shown.empty());
    ASSERT_FALSE(form.Calls.empty());
    EXPECT_EQ(form.Calls[0], "GetChartData 9A7A.n");
}

TEST(MainForm, NoQuoteSaysSoAndKeepsTheChart)
{
    MessageCapture capture;
    RecordingForm form;
    form.QuoteFound = false;
    form.show();
    form.LabelKaikaShort->setText(QStringLiteral("    500円"));
    form.KabuNoEdit->setText(QStringLiteral("12345"));
    form.ShijouBox->setCurrentIndex(2);
    form.KabuNoButton->click();
    EXPECT_EQ(form.Calls, std::vector<std::string>{"GetKabuKa 12345.q"});
    ASSERT_EQ(capture.Shown.size(), 1u);
    EXPECT_EQ(capture.Shown[0].Text, QStringLiteral("データがありません。"));
    EXPECT_EQ(capture.Shown[0].Caption, QStringLiteral("情報"));
    EXPECT_EQ(form.LabelKaikaShort->text(), QStringLiteral("    500円"));
    EXPECT_EQ(InputStates(form), std::vector<bool>(7, true));
}

TEST(MainForm, AFailingPassShowsOnlyTheDataErrorBoxAndUnlocksTheControls)
{
    const char* const failing[] = {"GetKabuKa 1301.t", "GetChartData 1301.t", "DrawChartData",
                                   "CalcAverageRsi LongWeek", "DrawDekidakaData"};
    for (const char* pass : failing)
    {
        SCOPED_TRACE(pass);
        MessageCapture capture;
        RecordingForm form;
        form.show();
        form.ThrowIn = pass;
        form.KabuNoEdit->setText(QStringLiteral("1301"));
        form.KabuNoButton->click();
        ASSERT_EQ(capture.Shown.size(), 1u);
        EXPECT_EQ(capture.Shown[0].Text, DataErrorText);
        EXPECT_EQ(capture.Shown[0].Caption, QStringLiteral("Orvanta(おるばんた)"));
        EXPECT_EQ(capture.Shown[0].Icon, QMessageBox::NoIcon);
        EXPECT_EQ(form.Calls.back(), pass) << "the chain stops at the failing pass";
        EXPECT_EQ(InputStates(form), std::vector<bool>(7, true));
        EXPECT_TRUE(form.isVisible());
    }

    MessageCapture capture;
    RecordingForm form;
    form.show();
    form.ThrowIn = "DrawChartData";
    form.KabuNoEdit->setText(QStringLiteral("1301"));
    form.KabuSearchButton->setEnabled(false); // not one of the period switch's controls
    form.ChartLengDay->setChecked(true);
    ASSERT_EQ(capture.Shown.size(), 1u);
    EXPECT_EQ(capture.Shown[0].Text, DataErrorText);
    EXPECT_EQ(InputStates(form), (std::vector<bool>{true, true, true, true, true, true, false}));
}

TEST(MainForm, PeriodSwitchDoesNothingWhileTheScreeningBarIsUp)
{
    MessageCapture capture;
    RecordingForm form;
    form.show();
    form.KabukaSearchWin->trigger();
    form.KabuNoEdit->setText(QStringLiteral("1301"));
    form.ChartLengDay->setChecked(true);
    EXPECT_TRUE(form.Calls.empty());
    EXPECT_TRUE(capture.Shown.empty());
}

TEST(MainForm, ClosingSetsTheTagAndHomePageGoesToTheUrlOpener)
{
    MessageCapture capture;
    TMainForm form;
    form.show();
    form.QuillonSoftwareHomePage1->trigger();
    ASSERT_EQ(capture.Opened.size(), 1u);
    EXPECT_TRUE(capture.Opened[0].startsWith(QStringLiteral("https://")));
    EXPECT_TRUE(form.close());
    EXPECT_EQ(form.Tag, ClosingTag);
}

TEST(MainForm, ExceptionsOutsideACommandReachTheDataErrorBox)
{
    MessageCapture capture;
    TMainForm form;
    form.show();
    auto* application = dynamic_cast<TOrvantaApplication*>(QCoreApplication::instance());
    ASSERT_NE(application, nullptr);
    ASSERT_TRUE(application->OnException) << "installed when the window is shown";
    QTimer::singleShot(0, &form, [] { throw std::runtime_error("escaped"); });
    EXPECT_TRUE(ProcessUntil([&] { return !capture.Shown.empty(); }));
    ASSERT_EQ(capture.Shown.size(), 1u);
    EXPECT_EQ(capture.Shown[0].Text, DataErrorText);
}

// IPA P Gothic is wider than the layout's face: "　７週平均" lost its last character to its
// 52-pixel label. The captions keep their places and end inside them.
TEST(MainForm, LegendCaptionsFitTheirLabels)
{
    TMainForm form;
    form.show();
    for (QLabel* label : {form.Label13, form.Label14})
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
