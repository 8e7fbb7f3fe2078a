// The window's data update against a loopback stand-in of the data API, driven through the
// menu, the dialog's buttons and the child's real exit.

#include "app/window/main_form.h"
#include "common/service_contract.h"

#include "jquants_standin.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

namespace {

template <typename Predicate>
bool ProcessUntil(Predicate done, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class DataUpdateDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* base = std::getenv("ORVANTA_TEST_TMP");
        Root = std::filesystem::path(base ? base : "/tmp") /
               ("data_update_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(Root);
        std::filesystem::create_directories(Root / "data");
        // The key reaches the child through the file the dialog writes, never the environment.
        ::unsetenv(ApiKeyVariable);
        Target.ServiceProgram = QStringLiteral(ORVANTA_SERVICE_BINARY);
        Target.DataFolder = QString::fromStdString((Root / "data").string());
        Target.ConfigFolder = Root / "config" / "orvanta";
        Target.Source = QString::fromStdString(Standin.Url());
        Form.SetDataUpdateTarget(Target, {});
    }

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(Root, ignored);
    }

    TDataUpdateDialog* OpenDialog()
    {
        Form.findChild<QAction*>(QStringLiteral("DataUpdate1"))->trigger();
        auto* dialog = Form.findChild<TDataUpdateDialog*>(QStringLiteral("DataUpdateDialog"));
        if (dialog == nullptr)
            return nullptr;
        auto* plan = dialog->findChild<QComboBox*>(QStringLiteral("PlanBox"));
        plan->setCurrentIndex(plan->findData(QStringLiteral("premium"))); // a burst within its minute
        ProcessUntil([&] { return Label(dialog, "OutlookLabel").contains(QStringLiteral("今回の取得")); }, 10000);
        return dialog;
    }

    static QString Label(QWidget* dialog, const char* name)
    {
        return dialog->findChild<QLabel*>(QLatin1String(name))->text();
    }

    static QPushButton* Button(QWidget* dialog, const char* name)
    {
        return dialog->findChild<QPushButton*>(QLatin1String(name));
    }

    // Clicks 取得開始 and waits for the child's end; its exit status, or -2 when it did not end.
    int FetchWith(TDataUpdateDialog* dialog, const QString& key)
    {
        QSignalSpy finished(dialog, &TDataUpdateDialog::FetchFinished);
        QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("KeyEdit")), key);
        QTest::mouseClick(Button(dialog, "StartButton"), Qt::LeftButton);
        if (!ProcessUntil([&] { return !finished.isEmpty(); }, 50000))
            return -2;
        return finished.front().front().toInt();
    }

    std::filesystem::path Root;
    TStandinMarket Market = TStandinMarket::Small(AddDays(LocalToday(), -40), AddDays(LocalToday(), -1));
    TJQuantsStandin Standin{Market, 50};
    TDataUpdateTarget Target;
    TMainForm Form;
};

TEST_F(DataUpdateDialogTest, AFetchFromTheMenuStoresTheMarketAndLocksOutAScreeningRun)
{
    TDataUpdateDialog* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Label(dialog, "HeldLabel"), QStringLiteral("保有データ：なし"));

    auto* search = Form.findChild<QPushButton*>(QStringLiteral("KabuSearchButton"));
    QSignalSpy started(dialog, &TDataUpdateDialog::FetchStarted);
    QObject::connect(dialog, &TDataUpdateDialog::FetchStarted, [&] { EXPECT_FALSE(search->isEnabled()); });
    EXPECT_EQ(FetchWith(dialog, QStringLiteral("test-key-not-a-real-key")), 0)
        << Label(dialog, "OutcomeLabel").toStdString();
    EXPECT_EQ(started.size(), 1);
    EXPECT_TRUE(search->isEnabled()) << "the run is free again once the fetch has ended";
    EXPECT_TRUE(Label(dialog, "OutcomeLabel").startsWith(QStringLiteral("取得が終わりました")));
    const auto* bar = dialog->findChild<QProgressBar*>(QStringLiteral("FetchBar"));
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(std::filesystem::exists(Root / "data" / "bars"));

    // The key was kept for the user alone; the held range is shown once the fetch is over.
    EXPECT_TRUE(HasSavedApiKey(Target.ConfigFolder));
    EXPECT_TRUE(ProcessUntil([&] { return Label(dialog, "HeldLabel").contains(QStringLiteral("銘柄")); }, 10000))
        << Label(dialog, "HeldLabel").toStdString();
    EXPECT_STREQ(RememberedPlan(Target.ConfigFolder).Name, "premium");
}

TEST_F(DataUpdateDialogTest, CancelKeepsWhatWasFetchedAndTheNextFetchAsksNoDayTwice)
{
    TDataUpdateDialog* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    Standin.SetDelay(std::chrono::milliseconds(150));
    QSignalSpy finished(dialog, &TDataUpdateDialog::FetchFinished);
    QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("KeyEdit")),
                     QStringLiteral("test-key-not-a-real-key"));
    QTest::mouseClick(Button(dialog, "StartButton"), Qt::LeftButton);
    ASSERT_TRUE(ProcessUntil([&] { return Standin.RequestCount() >= 5; }, 20000));
    QTest::mouseClick(Button(dialog, "CancelButton"), Qt::LeftButton);
    ASSERT_TRUE(ProcessUntil([&] { return !finished.isEmpty(); }, 20000));
    EXPECT_EQ(finished.front().front().toInt(), 143);
    EXPECT_TRUE(Label(dialog, "OutcomeLabel").startsWith(QStringLiteral("中止しました")));
    EXPECT_TRUE(Button(dialog, "StartButton")->isEnabled());

    Standin.SetDelay(std::chrono::milliseconds(0));
    EXPECT_EQ(FetchWith(dialog, {}), 0) << Label(dialog, "OutcomeLabel").toStdString();
    // A day's bars are asked for once; only the request cut off by the cancel may come again.
    std::multiset<std::string> dayQueries;
    for (const TStandinRequest& request : Standin.Requests())
        if (request.Path.find("bars/daily") != std::string::npos && request.Status == 200 &&
            request.Query.find("pagination_key") == std::string::npos)
            dayQueries.insert(request.Query);
    int repeated = 0;
    for (auto query = dayQueries.begin(); query != dayQueries.end(); query = dayQueries.upper_bound(*query))
        repeated += static_cast<int>(dayQueries.count(*query)) - 1;
    EXPECT_LE(repeated, 1);
}

TEST_F(DataUpdateDialogTest, AWrongKeySaysSoAndAnotherServiceDisablesTheItem)
{
    TDataUpdateDialog* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(FetchWith(dialog, QStringLiteral("wrong-test-key")), 2);
    EXPECT_TRUE(Label(dialog, "OutcomeLabel").contains(QStringLiteral("APIキーが正しくない")))
        << Label(dialog, "OutcomeLabel").toStdString();

    const QString note = QStringLiteral("データは http://127.0.0.1:9 のサービスのものです。");
    Form.SetDataUpdateTarget(std::nullopt, note);
    const auto* item = Form.findChild<QAction*>(QStringLiteral("DataUpdate1"));
    EXPECT_FALSE(item->isEnabled());
    EXPECT_EQ(item->toolTip(), note);
}

} // namespace
