// The orvanta command as cron runs it: a child process in a fresh folder, no display.

#include "app/command_line.h"

#include "../data/test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

const std::string Tosho1 = "\x93\x8c\x8f\xd8\x82\x50\x95\x94"; // 東証１部
const std::string Machinery = "\x8b\x40\x8a\x42";              // 機械

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
    TRun Orvanta(const QStringList& arguments, const std::filesystem::path& startFolder = {})
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        environment.remove(QStringLiteral("ORVANTA_SERVICE_URL"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QString::fromStdString((startFolder.empty() ? Folder : startFolder).string()));
        // An address of its own, where nothing answers: the program starts no service itself.
        process.start(QStringLiteral(ORVANTA_BINARY),
                      QStringList{QStringLiteral("--service"),
                                  QStringLiteral("http://127.0.0.1:%1").arg(ClosedLoopbackPort())} +
                          arguments);
        if (!process.waitForFinished(40000))
        {
            process.kill();
            process.waitForFinished();
            return {};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

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
         UsageStatus, "all"},
        {"an unknown sector", {QStringLiteral("--screen"), QStringLiteral("金融"), QStringLiteral("--out"), QStringLiteral("out")},
         UsageStatus, "業種 \"金融\" はありません"},
        {"no --out", {QStringLiteral("--screen"), QStringLiteral("全て")}, UsageStatus, "--out"},
        {"a condition without --screen", {QStringLiteral("--hits-only")}, UsageStatus, "--hits-only"},
        {"an argument", {QStringLiteral("--screen"), QStringLiteral("全て"), QStringLiteral("--out"), QStringLiteral("out"),
                         QStringLiteral("extra")},
         UsageStatus, "\"extra\""},
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
    WriteFileBytes("KabuList.dat", "0999,x," + Tosho1 + "," + Machinery + "\r\n6301,x," + Tosho1 + "," + Machinery + "\r\n");
    TRun run = Orvanta({QStringLiteral("--screen"), QStringLiteral("全て"), QStringLiteral("--out"), QStringLiteral("out")});
    EXPECT_EQ(run.Status, 0) << run.Err.toStdString();
    EXPECT_EQ(Summary()[QStringLiteral("ended")].toString(), QStringLiteral("stopped at code 999"));
    EXPECT_EQ(Summary()[QStringLiteral("entries")].toInt(), 2);
    for (const char* file : {"result.csv", "report.html"})
        EXPECT_TRUE(std::filesystem::exists(Folder / "out" / file)) << file;
    EXPECT_TRUE(run.Err.startsWith(QStringLiteral("orvanta: 全て: 一覧 2 銘柄、株価を読んだ 0、"))) << run.Err.toStdString();

    // An entry of an unknown market has no code: a data error, reported and written.
    WriteFileBytes("KabuList.dat", "6301,x,Tosho3," + Machinery + "\r\n");
    run = Orvanta({QStringLiteral("--screen"), QStringLiteral("機械"), QStringLiteral("--rsi30"), QStringLiteral("--out"),
                   QStringLiteral("out")});
    EXPECT_EQ(run.Status, 2) << run.Err.toStdString();
    const QString ended = Summary()[QStringLiteral("ended")].toString();
    EXPECT_TRUE(ended.startsWith(QStringLiteral("data error: "))) << ended.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("orvanta: ") + ended + u'\n')) << run.Err.toStdString();
    EXPECT_TRUE(Summary()[QStringLiteral("conditions")].toObject()[QStringLiteral("rsi30")].toBool());

    std::filesystem::remove("KabuList.dat");
    run = Orvanta({QStringLiteral("--screen"), QStringLiteral("全て"), QStringLiteral("--out"), QStringLiteral("out")});
    EXPECT_EQ(run.Status, 2) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("KabuList.dat"))) << run.Err.toStdString();
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
