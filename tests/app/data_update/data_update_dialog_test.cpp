// The window's data update against a loopback stand-in of the data API, driven through the
// menu, the dialog's buttons and the child's real exit.

#include "app/window/main_form.h"
#include "common/service_contract.h"

#include "jquants_standin.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sys/stat.h>

#include "loopback_port.h"

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

    // A stand-in for the fetch child that says what a test needs: the dry run's JSON, then
    // `lines` on its progress descriptor and `error` on stderr, waiting before its last two
    // lines until the file `go` exists (`go` empty: it does not wait), and exits with `exit`.
    void UseFakeChild(const std::vector<std::string>& lines, const std::string& error, int exit,
                      const std::filesystem::path& go = {})
    {
        const std::filesystem::path script = Root / "fake-service";
        std::ofstream out(script);
        out << "#!/bin/sh\n"
               "case \"$*\" in *--dry-run*) echo '{\"held_first\":null,\"held_last\":null,\"stocks\":0,"
               "\"from\":\"2025-03-03\",\"to\":\"2025-03-07\",\"days\":5,\"requests\":6,\"seconds\":61}'; exit 0;; esac\n";
        for (size_t i = 0; i < lines.size(); ++i)
        {
            if (!go.empty() && i + 2 == lines.size()) // bounded: 10 s at most
                out << "i=0; while [ ! -e '" << go.string()
                    << "' ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done\n";
            out << "echo '" << lines[i] << "'\n";
        }
        out << "echo '" << error << "' >&2\nexit " << exit << "\n";
        out.close();
        ::chmod(script.c_str(), 0700);
        Target.ServiceProgram = QString::fromStdString(script.string());
        Form.SetDataUpdateTarget(Target, {});
    }

    // A dialog of its own on the current target, shown and ready to fetch.
    std::unique_ptr<TDataUpdateDialog> ShowOwnDialog()
    {
        auto dialog = std::make_unique<TDataUpdateDialog>(Target, nullptr);
        dialog->show();
        ProcessUntil([&] { return Label(dialog.get(), "OutlookLabel").contains(QStringLiteral("今回の取得")); }, 10000);
        return dialog;
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
    EXPECT_TRUE(Label(dialog, "OutcomeLabel").contains(QStringLiteral("APIキーが拒否されました（403）")))
        << Label(dialog, "OutcomeLabel").toStdString();

    const QString note = QStringLiteral("データは http://127.0.0.1:9 のサービスのものです。");
    Form.SetDataUpdateTarget(std::nullopt, note);
    const auto* item = Form.findChild<QAction*>(QStringLiteral("DataUpdate1"));
    EXPECT_FALSE(item->isEnabled());
    EXPECT_EQ(item->toolTip(), note);
}

// The bar's maximum is the requests made and left, its value those made; the time left was
// still shown once the fetch had ended.
TEST_F(DataUpdateDialogTest, TheBarCountsTheRequestsAndTheTimeLeftEndsWithTheFetch)
{
    const std::filesystem::path go = Root / "go";
    UseFakeChild({"request=3 left=9 days=1/5 rows=12 eta=100 http=200",
                  "request=12 left=0 days=5/5 rows=60 eta=0 http=200",
                  "end exit=0 days=5 stocks=6 rows=60 requests=12 refused=0 reason=done"},
                 "orvanta-service: 5/5 日、6 銘柄、60 行 (要求 12 回)、受け付けなかった行 0", 0, go);
    TDataUpdateDialog* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    const auto* bar = dialog->findChild<QProgressBar*>(QStringLiteral("FetchBar"));
    QSignalSpy finished(dialog, &TDataUpdateDialog::FetchFinished);
    QTest::mouseClick(Button(dialog, "StartButton"), Qt::LeftButton);
    ASSERT_TRUE(ProcessUntil([&] { return bar->maximum() > 1; }, 10000));
    EXPECT_EQ(bar->maximum(), 12);
    EXPECT_EQ(bar->value(), 3);
    EXPECT_EQ(Label(dialog, "ProgressLabel"), QStringLiteral("1 / 5日　3リクエスト済み（残り約9）　残り約2分"));

    std::ofstream{go};
    ASSERT_TRUE(ProcessUntil([&] { return !finished.isEmpty(); }, 10000));
    EXPECT_EQ(bar->maximum(), 12);
    EXPECT_EQ(bar->value(), 12);
    EXPECT_EQ(Label(dialog, "ProgressLabel"), QStringLiteral("5 / 5日　12リクエスト済み"));
}

// Without a network the dialog said the source had stopped the fetch and what was fetched was
// kept: neither was true. Each ending now says what happened and what this fetch kept.
TEST_F(DataUpdateDialogTest, TheOutcomeSaysWhatHappenedAndWhatWasKept)
{
    struct TRow
    {
        const char* Name;
        int Exit;
        std::string EndLine;
        const char* Happened;
        const char* Kept;
    };
    const std::string nothing = "days=0 stocks=0 rows=0 requests=1 refused=0";
    const std::string some = "days=3 stocks=6 rows=18 requests=4 refused=0";
    const TRow rows[] = {
        {"no network", 2, "end exit=2 " + nothing + " reason=no-network", "接続できませんでした",
         "今回は何も保存していません"},
        {"network lost", 2, "end exit=2 " + some + " reason=no-network", "接続できませんでした",
         "今回取得した3日分（18行）は保存されています"},
        {"refused key", 2, "end exit=2 " + nothing + " reason=key-refused", "APIキーが拒否されました（403）",
         "今回は何も保存していません"},
        {"rate limit given up", 2, "end exit=2 " + some + " reason=rate-limited", "利用回数の上限",
         "今回取得した3日分"},
        {"the plan's newest day", 0, "end exit=0 " + some + " reason=plan-end",
         "プランで取得できる最新の日まで取得しました", "3日分、6銘柄、18行"},
        {"a local failure", 1, "end exit=1 " + some + " reason=local-failure", "データを保存できませんでした",
         "今回取得した3日分"},
        {"cancelled", 143, "end exit=143 " + some + " reason=interrupted", "中止しました", "今回取得した3日分"},
        {"a child of no reason", 2, "end exit=2 " + some, "データ提供元がエラーを返したため", "今回取得した3日分"},
    };
    for (const TRow& row : rows)
    {
        SCOPED_TRACE(row.Name);
        UseFakeChild({row.EndLine}, "orvanta-service: what it said", row.Exit);
        const std::unique_ptr<TDataUpdateDialog> dialog = ShowOwnDialog();
        EXPECT_EQ(FetchWith(dialog.get(), {}), row.Exit);
        const QString outcome = Label(dialog.get(), "OutcomeLabel");
        EXPECT_TRUE(outcome.contains(QString::fromUtf8(row.Happened))) << outcome.toStdString();
        EXPECT_TRUE(outcome.contains(QString::fromUtf8(row.Kept))) << outcome.toStdString();
        EXPECT_TRUE(outcome.endsWith(QStringLiteral("\norvanta-service: what it said"))) << outcome.toStdString();
    }
}

// Texts that grew after the dialog was laid out, or a dialog narrowed by the user, squeezed
// the wrapped texts into fewer lines than they need, over the label below them.
TEST_F(DataUpdateDialogTest, WithoutANetworkTheDialogSaysSoAndNoTextLiesOverAnother)
{
    Target.Source = QStringLiteral("http://127.0.0.1:%1/v2").arg(FreeLoopbackPort());
    Form.SetDataUpdateTarget(Target, {});
    TDataUpdateDialog* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(FetchWith(dialog, QStringLiteral("test-key-not-a-real-key")), 2);
    const QString outcome = Label(dialog, "OutcomeLabel");
    EXPECT_TRUE(outcome.contains(QStringLiteral("接続できませんでした"))) << outcome.toStdString();
    EXPECT_TRUE(outcome.contains(QStringLiteral("今回は何も保存していません"))) << outcome.toStdString();
    EXPECT_FALSE(Label(dialog, "ProgressLabel").contains(QStringLiteral("残り")));

    // Narrowed by the user: the texts take more lines.
    dialog->resize(400, dialog->height());
    QCoreApplication::processEvents();
    std::vector<QWidget*> shown;
    for (QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->isVisible())
            shown.push_back(child);
    for (QWidget* widget : shown)
    {
        SCOPED_TRACE(widget->objectName().toStdString());
        const auto* label = qobject_cast<QLabel*>(widget);
        const bool fits = !label || !label->wordWrap() || label->height() >= label->heightForWidth(label->width());
        EXPECT_TRUE(fits) << "its text does not fit";
        for (QWidget* other : shown)
        {
            const bool apart = other == widget || !widget->geometry().intersects(other->geometry());
            EXPECT_TRUE(apart) << other->objectName().toStdString();
        }
    }
}

TEST_F(DataUpdateDialogTest, ThePlanSaysHowFarItsDataReachesAndTheSiteIsALink)
{
    TDataUpdateDialog* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    auto* plan = dialog->findChild<QComboBox*>(QStringLiteral("PlanBox"));
    plan->setCurrentIndex(plan->findData(QStringLiteral("free")));
    EXPECT_EQ(Label(dialog, "PlanLabel"), QStringLiteral("Freeプラン：2年前から12週前までの日足（毎分5回まで）"));
    plan->setCurrentIndex(plan->findData(QStringLiteral("light")));
    EXPECT_EQ(Label(dialog, "PlanLabel"), QStringLiteral("Lightプラン：5年前から最新の日までの日足（毎分60回まで）"));

    const auto* site = dialog->findChild<QLabel*>(QStringLiteral("SiteLabel"));
    EXPECT_TRUE(site->openExternalLinks());
    const QString address = QString::fromUtf8(DataApiSite);
    EXPECT_TRUE(site->text().contains(QStringLiteral("<a href=\"%1\">%1</a>").arg(address)))
        << site->text().toStdString();
    EXPECT_TRUE(site->text().contains(QStringLiteral("Freeプランは1年間有効で、もう一度登録すると更新できます")));
}

} // namespace
