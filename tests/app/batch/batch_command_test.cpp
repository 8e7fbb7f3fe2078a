// The orvanta command as cron runs it: a child process in a fresh folder, no display.

#include "app/startup/command_line.h"
#include "common/service_contract.h"

#include "../form_service_test.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <atomic>
#include <csignal>
#include <thread>

namespace {

const std::string Tosho1 = "\x93\x8c\x8f\xd8\x82\x50\x95\x94"; // 東証１部
const std::string Machinery = "\x8b\x40\x8a\x42";              // 機械

std::string ListLines(std::initializer_list<int> codes)
{
    std::string list;
    for (const int code : codes)
        list += std::to_string(code) + ",x," + Tosho1 + "," + Machinery + "\r\n";
    return list;
}

QByteArray FileBytes(const std::filesystem::path& file)
{
    QFile in(QString::fromStdString(file.string()));
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

// Files a run left half-written: temporary files of pages or of the report.
std::vector<std::string> TemporaryFiles(const std::filesystem::path& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.path().filename().string().find(".part-") != std::string::npos ||
            entry.path().filename().string().find(".orvanta-probe") != std::string::npos)
            found.push_back(entry.path().string());
    return found;
}

struct TRun
{
    int Status = -1;
    QString Out;
    QString Err;
};

class BatchCommandTest : public TWorkFolderTest
{
protected:
    // Runs the program with the environment of a cron job: no display, the C locale, and a
    // platform setting that would need a display.
    // Starts the program with the environment of a cron job: no display, the C locale, and a
    // platform setting that would need a display.
    void Start(QProcess& process, const QStringList& arguments, const std::filesystem::path& startFolder = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), Platform);
        if (!Display.isEmpty())
            environment.insert(QStringLiteral("DISPLAY"), Display);
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        environment.remove(QStringLiteral("ORVANTA_SERVICE_URL"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QString::fromStdString((startFolder.empty() ? Folder : startFolder).string()));
        // An address of its own, where nothing answers: the program starts no service itself.
        // A later --service among the arguments wins.
        process.start(
            QStringLiteral(ORVANTA_BINARY),
            QStringList{QStringLiteral("--service"), QStringLiteral("http://127.0.0.1:%1").arg(ClosedLoopbackPort())} +
                arguments);
    }

    TRun Orvanta(const QStringList& arguments, const std::filesystem::path& startFolder = {})
    {
        QProcess process;
        Start(process, arguments, startFolder);
        if (!process.waitForFinished(40000))
        {
            process.kill();
            process.waitForFinished();
            return {};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    // The window platform of the environment, and a display where nothing answers.
    QString Platform = QStringLiteral("xcb");
    QString Display;

    QJsonObject Summary() const
    {
        QFile file(QString::fromStdString((Folder / "out" / "summary.json").string()));
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }
};

TEST_F(BatchCommandTest, HelpVersionAndBadArgumentsEndAtOnce)
{
    const struct
    {
        const char* Name;
        QStringList Arguments;
        int Status;
        const char* Out; // a part of stdout, or of stderr's one line
    } rows[] = {
        {"help", {QStringLiteral("--help")}, 0, "--screen <sector>"},
        {"version", {QStringLiteral("--version")}, 0, "orvanta 1.6a\n"},
        {"an unknown option",
         {QStringLiteral("--screen"), QStringLiteral("全て"), QStringLiteral("--out"), QStringLiteral("out"),
          QStringLiteral("--all")},
         UsageStatus,
         "all"},
        {"an unknown sector",
         {QStringLiteral("--screen"), QStringLiteral("金融"), QStringLiteral("--out"), QStringLiteral("out")},
         UsageStatus,
         "業種 \"金融\" はありません"},
        {"no --out", {QStringLiteral("--screen"), QStringLiteral("全て")}, UsageStatus, "--out"},
        {"a condition without --screen", {QStringLiteral("--hits-only")}, UsageStatus, "--hits-only"},
        {"an argument",
         {QStringLiteral("--screen"), QStringLiteral("全て"), QStringLiteral("--out"), QStringLiteral("out"),
          QStringLiteral("extra")},
         UsageStatus,
         "\"extra\""},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        const TRun run = Orvanta(row.Arguments);
        EXPECT_EQ(run.Status, row.Status) << run.Err.toStdString();
        if (row.Status == 0)
        {
            EXPECT_TRUE(run.Out.contains(QString::fromUtf8(row.Out))) << run.Out.toStdString();
            EXPECT_TRUE(run.Err.isEmpty()) << run.Err.toStdString();
            continue;
        }
        EXPECT_TRUE(run.Out.isEmpty());
        EXPECT_EQ(run.Err.count(u'\n'), 1) << run.Err.toStdString();
        EXPECT_TRUE(run.Err.startsWith(QStringLiteral("orvanta: ")));
        EXPECT_TRUE(run.Err.contains(QString::fromUtf8(row.Out))) << run.Err.toStdString();
        EXPECT_FALSE(std::filesystem::exists(Folder / "out")) << "nothing is run";
    }
}

TEST_F(BatchCommandTest, AQuietStopIsANormalEndAndADataErrorIsTwo)
{
    // The list's first code is out of range: the run stops there, before any page is fetched.
    WriteFileBytes("KabuList.dat",
                   "0999,x," + Tosho1 + "," + Machinery + "\r\n6301,x," + Tosho1 + "," + Machinery + "\r\n");
    TRun run =
        Orvanta({QStringLiteral("--screen"), QStringLiteral("全て"), QStringLiteral("--out"), QStringLiteral("out")});
    EXPECT_EQ(run.Status, 0) << run.Err.toStdString();
    EXPECT_EQ(Summary()[QStringLiteral("ended")].toString(), QStringLiteral("stopped at code 999"));
    EXPECT_EQ(Summary()[QStringLiteral("entries")].toInt(), 2);
    for (const char* file : {"result.csv", "report.html"})
        EXPECT_TRUE(std::filesystem::exists(Folder / "out" / file)) << file;
    EXPECT_TRUE(run.Err.startsWith(QStringLiteral("orvanta: 全て: 一覧 2 銘柄、株価を読んだ 0、")))
        << run.Err.toStdString();

    // An entry of an unknown market has no code: a data error, reported and written.
    WriteFileBytes("KabuList.dat", "6301,x,Tosho3," + Machinery + "\r\n");
    run = Orvanta({QStringLiteral("--screen"), QStringLiteral("機械"), QStringLiteral("--rsi30"),
                   QStringLiteral("--out"), QStringLiteral("out")});
    EXPECT_EQ(run.Status, 2) << run.Err.toStdString();
    const QString ended = Summary()[QStringLiteral("ended")].toString();
    EXPECT_TRUE(ended.startsWith(QStringLiteral("data error: "))) << ended.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("orvanta: データエラーで検索が止まりました: ") +
                                 ended.mid(QStringLiteral("data error: ").size()) + u'\n'))
        << run.Err.toStdString();
    EXPECT_TRUE(Summary()[QStringLiteral("conditions")].toObject()[QStringLiteral("rsi30")].toBool());

    std::filesystem::remove("KabuList.dat");
    run = Orvanta({QStringLiteral("--screen"), QStringLiteral("全て"), QStringLiteral("--out"), QStringLiteral("out")});
    EXPECT_EQ(run.Status, 2) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("KabuList.dat"))) << run.Err.toStdString();
}

TEST_F(BatchCommandTest, ARunInWhichNothingAnsweredEndsWithTwo)
{
    WriteFileBytes("KabuList.dat", ListLines({6301, 6302, 6303}));
    const TRun run =
        Orvanta({QStringLiteral("--screen"), QStringLiteral("機械"), QStringLiteral("--out"), QStringLiteral("out")});
    EXPECT_EQ(run.Status, 2) << run.Err.toStdString();
    EXPECT_EQ(Summary()[QStringLiteral("ended")].toString(), QStringLiteral("no page could be read"));
    EXPECT_EQ(Summary()[QStringLiteral("pages")].toObject()[QStringLiteral("fetched")].toInt(-1), 0)
        << "requests that brought nothing are not pages fetched";
    EXPECT_EQ(Summary()[QStringLiteral("skipped")].toArray().size(), 3);
    EXPECT_TRUE(run.Err.contains(
        QStringLiteral("\norvanta: どの銘柄のページも読めませんでした。サービスが応答していません。\n")))
        << run.Err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(FileBytes(Folder / "out" / "report.html"))
                    .contains(QStringLiteral("どの銘柄のページも読めませんでした")));
}

// A working folder holding its list but no dat/ was used as it was: the first page had no
// folder for its temporary file and the run stopped with "cannot create a temporary file".
TEST_F(BatchCommandTest, AWorkFolderWithoutItsCacheFolderGetsOne)
{
    const std::filesystem::path work = Folder / "work";
    std::filesystem::create_directories(work);
    WriteFileBytes(work / "KabuList.dat", ListLines({6301, 6302}));
    const TRun run =
        Orvanta({QStringLiteral("--workdir"), QString::fromStdString(work.string()), QStringLiteral("--screen"),
                 QStringLiteral("機械"), QStringLiteral("--out"), QStringLiteral("out")});
    EXPECT_EQ(Summary()[QStringLiteral("ended")].toString(), QStringLiteral("no page could be read"))
        << run.Err.toStdString();
    EXPECT_FALSE(run.Err.contains(QStringLiteral("temporary file"))) << run.Err.toStdString();
    EXPECT_TRUE(std::filesystem::is_directory(work / "dat"));
    EXPECT_EQ(ReadFileBytes(work / "KabuList.dat"), ListLines({6301, 6302})) << "the list is kept";
}

TEST_F(BatchCommandTest, WithoutADisplayTheWindowSaysWhatItNeedsAndQtsReason)
{
    // Regression: Qt's own reason was dropped. It comes on a second line, escaped: it quotes
    // the environment.
    const struct
    {
        const char* Name;
        QString Platform;
        QString Display;
        QString Reason;
    } rows[] = {
        {"no display", QStringLiteral("xcb"), {}, QStringLiteral("could not connect to display")},
        {"a display that refuses", QStringLiteral("xcb"), QStringLiteral(":97"),
         QStringLiteral("could not connect to display :97")},
        {"a missing plugin", QStringLiteral("nosuch"), {}, QStringLiteral("\"nosuch\"")},
        {"a plugin name that would steer the terminal",
         QStringLiteral("no\x1b[2Jsuch"),
         {},
         QStringLiteral("\"no\\x1B[2Jsuch\"")},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        Platform = row.Platform;
        Display = row.Display;
        const TRun run = Orvanta({});
        EXPECT_EQ(run.Status, 1) << "no abort";
        const QStringList lines = run.Err.split(u'\n');
        ASSERT_EQ(lines.size(), 3) << run.Err.toStdString(); // two lines and their ends
        EXPECT_TRUE(lines[0].startsWith(QStringLiteral("orvanta: デスクトップのセッション"))) << run.Err.toStdString();
        EXPECT_TRUE(lines[0].contains(QStringLiteral("--screen")));
        EXPECT_TRUE(lines[1].startsWith(QStringLiteral("orvanta: Qt: "))) << run.Err.toStdString();
        EXPECT_TRUE(lines[1].contains(row.Reason, Qt::CaseInsensitive)) << run.Err.toStdString();
        EXPECT_FALSE(run.Err.contains(u'\x1b'));
    }
}

// SIGTERM and SIGINT in the middle of a page: the run ends as a closed window ends it.
TEST_F(BatchCommandTest, ASignalEndsTheRunWithTheRowsSoFarAndNoDebris)
{
    const struct
    {
        int Signal;
        int Status;
        const char* Connections;
    } rows[] = {{SIGTERM, 143, "0"}, {SIGINT, 130, "4"}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Signal);
        std::filesystem::remove_all(Folder / "out");
        for (const auto& entry : std::filesystem::directory_iterator(Folder / "dat"))
            std::filesystem::remove(entry.path());
        WriteFileBytes("KabuList.dat", ListLines({6301, 6302, 6303}));

        // Outlives the server, whose handler waits on it.
        std::atomic<bool> release{false};
        std::atomic<bool> stalled{false};
        TLoopbackServer server;
        server.Routes().Get(QuoteRoute, [](const httplib::Request& request, httplib::Response& response) {
            TQuotePageFields fields;
            fields.Code = request.get_param_value("qt").substr(0, 4);
            response.set_content(QuotePage(fields), "text/html; charset=EUC-JP");
        });
        // 6302's weekly history: a part of the page, then silence until the test lets go (20 s
        // at most). The chain asks for it only after 6301's row is made and 6302's quote read.
        server.Routes().Get(HistoryRoute, [&](const httplib::Request& request, httplib::Response& response) {
            const std::string page = HistoryPage(VShapedWeeks(30), 20000);
            if (request.get_param_value("qt") != "6302.t")
            {
                response.set_content(page, "text/html; charset=EUC-JP");
                return;
            }
            response.set_chunked_content_provider("text/html; charset=EUC-JP",
                                                  [&, page](std::size_t offset, httplib::DataSink& sink) {
                                                      if (offset == 0)
                                                      {
                                                          sink.write(page.data(), 1000);
                                                          stalled = true;
                                                          return true;
                                                      }
                                                      for (int i = 0; i < 2000 && !release; ++i)
                                                          std::this_thread::sleep_for(std::chrono::milliseconds(10));
                                                      sink.done();
                                                      return true;
                                                  });
        });
        const QString address = QString::fromStdString(server.Start());
        struct TRelease
        {
            std::atomic<bool>& Flag;
            ~TRelease() { Flag = true; }
        } releaseOnExit{release};

        QProcess process;
        Start(process,
              {QStringLiteral("--service"), address, QStringLiteral("--connections"), QLatin1String(row.Connections),
               QStringLiteral("--screen"), QStringLiteral("機械"), QStringLiteral("--out"), QStringLiteral("out")});
        QByteArray err;
        // 6301 is listed and 6302's history is under way and silent: the progress line of 6302
        // comes after 6301's row, never before. (Waiting for 6301's line alone let the signal
        // come before 6301's row, and the list held only its captions.)
        for (int i = 0; i < 400 && !(stalled && err.contains(" 6302 ")); ++i)
        {
            process.waitForReadyRead(50);
            err += process.readAllStandardError();
        }
        ASSERT_TRUE(stalled && err.contains(" 6302 ")) << err.toStdString();
        ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), row.Signal), 0);
        ASSERT_TRUE(process.waitForFinished(30000)) << "the run ends without the page";
        err += process.readAllStandardError();
        release = true;

        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), row.Status) << err.toStdString();
        EXPECT_EQ(Summary()[QStringLiteral("ended")].toString(), QStringLiteral("interrupted"));
        EXPECT_TRUE(err.contains("\norvanta: シグナルを受けて検索を中断しました。\n")) << err.toStdString();
        const QByteArray csv = FileBytes(Folder / "out" / "result.csv");
        EXPECT_EQ(csv.count("\r\n"), 2) << "the captions and 6301";
        EXPECT_TRUE(csv.contains("\r\n6301 ")) << csv.toStdString();
        const std::vector<std::string> debris = TemporaryFiles(Folder);
        EXPECT_TRUE(debris.empty()) << (debris.empty() ? std::string() : debris.front());
        EXPECT_FALSE(std::filesystem::exists(Folder / "dat" / "k6302.t.02")) << "half a page is never today's copy";
    }
}

TEST_F(BatchCommandTest, TheReportGoesWhereTheCommandWasGivenAndABadAddressRunsNothing)
{
    WriteFileBytes("KabuList.dat", "0999,x," + Tosho1 + "," + Machinery + "\r\n");
    std::filesystem::create_directories(Folder / "elsewhere");
    const QString work = QString::fromStdString(Folder.string());
    TRun run = Orvanta({QStringLiteral("--workdir"), work, QStringLiteral("--screen"), QStringLiteral("全て"),
                        QStringLiteral("--out"), QStringLiteral("out")},
                       Folder / "elsewhere");
    EXPECT_EQ(run.Status, 0) << run.Err.toStdString();
    EXPECT_TRUE(std::filesystem::exists(Folder / "elsewhere" / "out" / "summary.json"));
    EXPECT_FALSE(std::filesystem::exists(Folder / "out")) << "not in the working folder";

    run = Orvanta({QStringLiteral("--service"), QStringLiteral("ftp://127.0.0.1"), QStringLiteral("--screen"),
                   QStringLiteral("全て"), QStringLiteral("--out"), QStringLiteral("out")});
    EXPECT_EQ(run.Status, UsageStatus) << run.Err.toStdString();
    EXPECT_EQ(run.Err.count(u'\n'), 1) << run.Err.toStdString();
    EXPECT_FALSE(std::filesystem::exists(Folder / "out"));
}

} // namespace
