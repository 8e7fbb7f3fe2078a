// Real data end to end, as a user goes: one fetch from the data API's stand-in fills the
// service's folder; the program started against that service takes its list, shows a stock's
// chart from adjusted whole-yen prices, and `orvanta --screen 全て` screens the fetched market.

#include "app/window/chart_pane.h"
#include "app/window/main_form.h"
#include "fake_dialogs.h"
#include "app/startup/startup.h"
#include "common/service_contract.h"

#include "../data/test_support.h"
#include "fetch_process.h"
#include "jquants_standin.h"
#include "service_process.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <map>

namespace {

class RealDataTest : public TWorkFolderTest
{
protected:
    void TearDown() override
    {
        SetFinanceServiceAddress(LoopbackServiceUrl(DefaultServicePort));
        TWorkFolderTest::TearDown();
    }
};

std::vector<std::string> FilesStartingWith(const std::filesystem::path& folder, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(prefix))
            found.push_back(entry.path().filename().string());
    return found;
}

// The program's start against `address` in `work`, as main() makes it; warnings collected.
std::unique_ptr<TStartup> StartProgram(const std::filesystem::path& folder, const QString& address,
                                       const std::filesystem::path& work, std::vector<QString>& warnings)
{
    TStartupEnvironment environment;
    environment.StartFolder = folder;
    environment.PerUserFolder = folder / "share" / "orvanta";
    environment.SampleFolder = ORVANTA_SAMPLE_DATA;
    const TCommandLine commandLine =
        ParseCommandLine({QStringLiteral("orvanta"), QStringLiteral("--service"), address, QStringLiteral("--workdir"),
                          QString::fromStdString(work.string())});
    return std::make_unique<TStartup>(commandLine, environment, [&](const QString& text) { warnings.push_back(text); });
}

// The user's own service as the desktop starts it: the sample market with the user's folder,
// under `folder`/share, over it.
std::unique_ptr<TServingProcess> UsersOwnService(const std::filesystem::path& folder)
{
    const char* before = std::getenv("XDG_DATA_HOME");
    const std::string previous = before ? before : "";
    ::setenv("XDG_DATA_HOME", (folder / "share").c_str(), 1);
    auto service = std::make_unique<TServingProcess>(std::vector<std::string>{});
    before ? ::setenv("XDG_DATA_HOME", previous.c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
    return service;
}

QJsonObject StatusOf(const TServingProcess& service)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(service.Get(StatusRoute).second)).object();
}

TEST_F(RealDataTest, OneFetchAndTheProgramShowsAndScreensTheRealMarket)
{
    const TDate today = LocalToday();
    // The market up to yesterday: 7203 splits 1:2 a third of the way in, inside the weekly chart.
    TJQuantsStandin standin(TStandinMarket::Small(AddDays(today, -400), AddDays(today, -1)), 10);
    const std::filesystem::path data = Folder / "service-data";
    const TFetchResult fetch =
        RunFetch(Folder, {"--data", data.string(), "--fetch", "--source", standin.Url(), "--plan", "premium"},
                 TJQuantsStandin::Key);
    ASSERT_EQ(fetch.Exit, 0) << fetch.Stderr;
    ASSERT_TRUE(std::filesystem::exists(data / "KabuList.dat"));

    const TServingProcess service({"--data", data.string()});
    ASSERT_TRUE(service.Answers());
    const QString address = QStringLiteral("http://127.0.0.1:%1").arg(service.Port);
    const std::filesystem::path work = Folder / "work";

    // The start-up: a fresh working folder gets the sample list first, then the service's.
    {
        std::vector<QString> warnings;
        const std::unique_ptr<TStartup> startup = StartProgram(Folder, address, work, warnings);
        EXPECT_TRUE(warnings.empty()) << warnings.front().toStdString();
        EXPECT_FALSE(startup->ServiceStatus().Sample);
        EXPECT_EQ(ReadFileBytes(work / "KabuList.dat"), ReadFileBytes(data / "KabuList.dat"));
        EXPECT_FALSE(std::filesystem::exists(work / "KabuList.new.dat"));

        TFakeDialogs dialogs;
        const std::vector<TMessageBoxRequest>& shown = dialogs.Shown;
        TMainForm form(dialogs);
        form.show();
        QTest::keyClicks(form.KabuNoEdit, QStringLiteral("7203"));
        QTest::mouseClick(form.KabuNoButton, Qt::LeftButton);
        ASSERT_TRUE(shown.empty()) << shown.front().Text.toStdString();

        // By the stand-in's rule, raw close = 1000 + t yen, halved from the split day on, with
        // volume 1000 (t + 1) doubled; adjusted, every day is (1000 + t) / 2 rounded half up and
        // 2000 (t + 1) shares, so the chart runs on without a step where the split was.
        const std::vector<TDate> days = standin.Market().TradingDays();
        std::map<std::string, std::pair<std::int32_t, std::int64_t>> weeks; // first day -> close, volume
        TDate weekOf{};
        std::string key;
        for (size_t t = 0; t < days.size(); ++t)
        {
            if (WeekStart(days[t]) != weekOf)
            {
                weekOf = WeekStart(days[t]);
                char text[16];
                std::snprintf(text, sizeof text, "%04d/%02d/%02d", days[t].Year, days[t].Month, days[t].Day);
                key = text;
            }
            weeks[key].first = static_cast<std::int32_t>((1001 + t) / 2);
            weeks[key].second += 2000 * static_cast<std::int64_t>(t + 1);
        }
        const size_t last = days.size() - 1;
        EXPECT_EQ(form.ChartPane->KabuQuote.KabuKa, static_cast<std::int64_t>((1001 + last) / 2) * FixedPointOne);
        EXPECT_EQ(form.ChartPane->ChartCode, "7203.t");
        int filled = 0;
        for (const TChartRec& bar : form.ChartPane->ChartBars)
        {
            if (bar.DateText.empty())
                continue;
            ++filled;
            SCOPED_TRACE(bar.DateText);
            ASSERT_TRUE(weeks.contains(bar.DateText));
            EXPECT_EQ(bar.ClosePrice, weeks[bar.DateText].first);
            EXPECT_EQ(bar.Dekidaka, weeks[bar.DateText].second);
        }
        EXPECT_GE(filled, 40);
        const TDate split = days[static_cast<size_t>(standin.Market().SplitDay)];
        char splitWeek[16];
        std::snprintf(splitWeek, sizeof splitWeek, "%04d/%02d/%02d", split.Year, split.Month, split.Day);
        EXPECT_TRUE(std::any_of(std::begin(form.ChartPane->ChartBars), std::end(form.ChartPane->ChartBars),
                                [&](const TChartRec& bar) { return bar.DateText <= splitWeek; }))
            << "the split lies inside the chart";

        // The preferred share is out of the list but shown for a lookup by its five characters.
        form.KabuNoEdit->clear();
        QTest::keyClicks(form.KabuNoEdit, QStringLiteral("25935"));
        QTest::mouseClick(form.KabuNoButton, Qt::LeftButton);
        ASSERT_TRUE(shown.empty()) << shown.front().Text.toStdString();
        EXPECT_EQ(form.ChartPane->ChartCode, "25935.t");
        EXPECT_EQ(form.ChartPane->LabelKabuNo->text(), QStringLiteral("25935 伊藤園第１種優先株式"))
            << "the served code, not the ordinary share's";
        EXPECT_EQ(form.ChartPane->KabuQuote.KabuKa,
                  static_cast<std::int64_t>(2000 + last) * FixedPointOne); // base 2000
    }

    // 全て as cron runs it: the fetched market's five listed stocks, the letter code among them;
    // the preferred share (5 digits) and the PRO Market issue are not in the list.
    QProcess orvanta;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    orvanta.setProcessEnvironment(environment);
    orvanta.start(QStringLiteral(ORVANTA_BINARY),
                  {QStringLiteral("--service"), address, QStringLiteral("--workdir"),
                   QString::fromStdString(work.string()), QStringLiteral("--screen"), QStringLiteral("全て"),
                   QStringLiteral("--out"), QString::fromStdString((Folder / "out").string())});
    ASSERT_TRUE(orvanta.waitForFinished(40000));
    EXPECT_EQ(orvanta.exitCode(), 0) << orvanta.readAllStandardError().toStdString();
    QFile summaryFile(QString::fromStdString((Folder / "out" / "summary.json").string()));
    ASSERT_TRUE(summaryFile.open(QIODevice::ReadOnly));
    const QJsonObject summary = QJsonDocument::fromJson(summaryFile.readAll()).object();
    EXPECT_EQ(summary[QStringLiteral("entries")].toInt(), 5);
    EXPECT_EQ(summary[QStringLiteral("screened")].toInt(), 5);
    EXPECT_TRUE(summary[QStringLiteral("skipped")].toArray().isEmpty());
    EXPECT_FALSE(summary.contains(QStringLiteral("sample_data")));
    for (const char* code : {"k7203.t.", "k130A.t.", "k1306.t.", "k8233.t.", "k5555.t."})
        EXPECT_FALSE(FilesStartingWith(work / "dat", code).empty()) << code;
    const std::string list = ReadFileBytes(work / "KabuList.dat");
    for (const char* code : {"25935,", "9199,"})
        EXPECT_EQ(list.find(code), std::string::npos) << code;
    EXPECT_TRUE(FilesStartingWith(work / "dat", "k9199").empty());
}

// The window's route: the user's own service runs on the sample market with the user's folder
// over it; a fetch into that folder is served without a restart, and the next start of the
// program drops the day's sample pages from its cache instead of showing them again.
// Regression: the status named the folder's newest data version while the pages still came
// from the market loaded before (reloaded only once a second), so the program dropped its
// cache, then kept a page of the half-fetched market under the new version for the whole day.
TEST_F(RealDataTest, AFetchIntoTheRunningServicesFolderReplacesTheDaysSamplePages)
{
    const std::unique_ptr<TServingProcess> own = UsersOwnService(Folder);
    const TServingProcess& service = *own;
    ASSERT_TRUE(service.Answers());
    const auto status = [&] { return StatusOf(service); };
    ASSERT_TRUE(status()[QLatin1String(StatusSampleField)].toBool());
    const QString address = QStringLiteral("http://127.0.0.1:%1").arg(service.Port);
    const std::filesystem::path work = Folder / "work";
    TFakeDialogs dialogs;
    const std::vector<TMessageBoxRequest>& shown = dialogs.Shown;
    const auto lookUp = [&] {
        std::vector<QString> warnings;
        const std::unique_ptr<TStartup> startup = StartProgram(Folder, address, work, warnings);
        EXPECT_TRUE(warnings.empty()) << warnings.front().toStdString();
        TMainForm form(dialogs);
        form.show();
        QTest::keyClicks(form.KabuNoEdit, QStringLiteral("7203"));
        QTest::mouseClick(form.KabuNoButton, Qt::LeftButton);
        EXPECT_TRUE(shown.empty()) << shown.front().Text.toStdString();
        return form.ChartPane->KabuQuote.KabuKa;
    };
    const std::int64_t samplePrice = lookUp();

    const TDate today = LocalToday();
    TJQuantsStandin standin(TStandinMarket::Small(AddDays(today, -400), AddDays(today, -1)), 10);
    const std::filesystem::path data = status()[QStringLiteral("data")].toString().toStdString();
    const QString version = status()[QLatin1String(StatusDataVersionField)].toString();
    const TFetchResult fetch =
        RunFetch(Folder, {"--data", data.string(), "--fetch", "--source", standin.Url(), "--plan", "premium"},
                 TJQuantsStandin::Key);
    ASSERT_EQ(fetch.Exit, 0) << fetch.Stderr;
    // Bounded: ten seconds for the service to load what the fetch stored.
    for (int i = 0; i < 200 && status()[QLatin1String(StatusSampleField)].toBool(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(status()[QLatin1String(StatusSampleField)].toBool());
    EXPECT_NE(status()[QLatin1String(StatusDataVersionField)].toString(), version);

    const size_t last = standin.Market().TradingDays().size() - 1;
    const std::int64_t realPrice = static_cast<std::int64_t>((1001 + last) / 2) * FixedPointOne;
    ASSERT_NE(samplePrice, realPrice);
    EXPECT_EQ(lookUp(), realPrice);
    EXPECT_EQ(ReadFileBytes(work / "KabuList.dat"), ReadFileBytes(data / "KabuList.dat"))
        << "the sample list the program put there is replaced";
}

// Regression: with the window open, a fetch from a terminal or cron changed the service's data,
// but the window went on showing today's sample pages under its "sample" caption, with the
// sample list, until the program was started again.
TEST_F(RealDataTest, AFetchFromOutsideTheOpenWindowIsShownByItsNextCommand)
{
    const std::unique_ptr<TServingProcess> own = UsersOwnService(Folder);
    const TServingProcess& service = *own;
    ASSERT_TRUE(service.Answers());
    const auto status = [&] { return StatusOf(service); };
    const QString address = QStringLiteral("http://127.0.0.1:%1").arg(service.Port);
    const std::filesystem::path work = Folder / "work";
    std::vector<QString> warnings;
    const std::unique_ptr<TStartup> startup = StartProgram(Folder, address, work, warnings);
    ASSERT_TRUE(warnings.empty()) << warnings.front().toStdString();
    TFakeDialogs dialogs;
    const std::vector<TMessageBoxRequest>& shown = dialogs.Shown;
    TMainForm form(dialogs);
    form.show();
    const QString sample = QStringLiteral("サンプルデータ");
    EXPECT_TRUE(form.windowTitle().contains(sample));
    QTest::keyClicks(form.KabuNoEdit, QStringLiteral("7203"));
    QTest::mouseClick(form.KabuNoButton, Qt::LeftButton);
    const auto lookedUp = std::chrono::steady_clock::now();
    const std::int64_t samplePrice = form.ChartPane->KabuQuote.KabuKa;

    const TDate today = LocalToday();
    const TDate first = AddDays(today, -60);
    TJQuantsStandin standin(TStandinMarket::Small(first, AddDays(today, -1)), 10);
    const std::filesystem::path data = status()[QStringLiteral("data")].toString().toStdString();
    char from[16];
    std::snprintf(from, sizeof from, "%04d-%02d-%02d", first.Year, first.Month, first.Day);
    const TFetchResult fetch = RunFetch(
        Folder, {"--data", data.string(), "--fetch", "--source", standin.Url(), "--plan", "premium", "--from", from},
        TJQuantsStandin::Key);
    ASSERT_EQ(fetch.Exit, 0) << fetch.Stderr;
    // Bounded: ten seconds for the service to load what the fetch stored, and the window's
    // answer of its last command (kept a second) out of date.
    for (int i = 0; i < 200 && status()[QLatin1String(StatusSampleField)].toBool(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(status()[QLatin1String(StatusSampleField)].toBool());
    while (std::chrono::steady_clock::now() - lookedUp < std::chrono::milliseconds(1100))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    // A period switch reads pages: it takes the new data first.
    form.ChartLengDay->click();
    EXPECT_FALSE(form.windowTitle().contains(sample)) << form.windowTitle().toStdString();
    EXPECT_TRUE(ReadFileBytes(work / "KabuList.dat") == ReadFileBytes(data / "KabuList.dat"))
        << "the sample list the program put there is replaced";
    form.ChartLengWeek->click();
    QTest::mouseClick(form.KabuNoButton, Qt::LeftButton);
    const size_t last = standin.Market().TradingDays().size() - 1;
    const std::int64_t realPrice = static_cast<std::int64_t>((1001 + last) / 2) * FixedPointOne;
    ASSERT_NE(samplePrice, realPrice);
    EXPECT_EQ(form.ChartPane->KabuQuote.KabuKa, realPrice);
    EXPECT_TRUE(shown.empty()) << shown.front().Text.toStdString();
}

} // namespace
