#include "app/startup.h"

#include "core_application.h"
#include "data/web_page.h"
#include "loopback_port.h"
#include "startup_test_support.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

#include <chrono>
#include <thread>
#include <vector>

namespace {

// QProcess wants an application object; the start-up always has one.
class TCoreApplication : public ::testing::Environment
{
public:
    void SetUp() override
    {
        Application = MakeCoreApplication();
    }
    void TearDown() override { Application.reset(); }

private:
    std::unique_ptr<QCoreApplication> Application;
};
const auto* const CoreApplication = ::testing::AddGlobalTestEnvironment(new TCoreApplication);

bool ServiceAnswers(int port)
{
    return QProcess::execute(QStringLiteral(ORVANTA_SERVICE_BINARY),
                             {QStringLiteral("--check"), QStringLiteral("--port"), QString::number(port)}) == 0;
}

//! Whether the process is gone (or a zombie, which no longer serves anything).
bool ProcessEnded(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    return text.empty() || (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z');
}

class Startup : public TTempFolderTest
{
protected:
    void SetUp() override
    {
        TTempFolderTest::SetUp();
        std::filesystem::create_directories(Root / "start");
        // The service reads the user's data from here, not from the real home.
        ::setenv("XDG_DATA_HOME", (Root / "xdg").c_str(), 1);
        Environment.StartFolder = Root / "start";
        Environment.PerUserFolder = Root / "xdg" / "orvanta";
        Environment.SampleFolder = ORVANTA_SAMPLE_DATA;
        Environment.ProgramFolder = QString::fromStdString(std::filesystem::path(ORVANTA_SERVICE_BINARY).parent_path());
        Environment.DefaultPort = FreeLoopbackPort();
        PreviousAddress = FinanceServiceAddress();
    }

    void TearDown() override
    {
        SetFinanceServiceAddress(PreviousAddress);
        ::unsetenv("XDG_DATA_HOME");
        TTempFolderTest::TearDown();
    }

    //! A stand-in for orvanta-service: a shell script in a folder of its own.
    QString FakeService(const std::string& script)
    {
        const std::filesystem::path folder = Root / "fake";
        std::filesystem::create_directories(folder);
        WriteText(folder / "orvanta-service", "#!/bin/sh\n" + script);
        std::filesystem::permissions(folder / "orvanta-service", std::filesystem::perms::owner_all);
        return QString::fromStdString(folder.string());
    }

    TStartupEnvironment Environment;
    std::vector<QString> Warnings;
    std::function<void(const QString&)> Warn = [this](const QString& text) { Warnings.push_back(text); };
    std::string PreviousAddress;
};

TEST_F(Startup, WithNoAddressTheProgramRunsItsOwnServiceInThePerUserFolder)
{
    const int port = Environment.DefaultPort;
    qint64 pid = 0;
    {
        const TStartup startup(TCommandLine{}, Environment, Warn);
        EXPECT_TRUE(Warnings.empty()) << Warnings.front().toStdString();
        EXPECT_EQ(startup.WorkFolder(), Environment.PerUserFolder);
        EXPECT_EQ(std::filesystem::current_path(), Environment.PerUserFolder);
        EXPECT_EQ(ReadText("KabuList.dat"), ReadText(Environment.SampleFolder / "KabuList.dat"));
        EXPECT_TRUE(std::filesystem::is_directory("dat"));
        EXPECT_TRUE(std::filesystem::is_empty(Root / "start")) << "the start folder is not the working folder";
        EXPECT_EQ(FinanceServiceAddress(), "http://127.0.0.1:" + std::to_string(port));

        pid = startup.StartedServiceId();
        ASSERT_NE(pid, 0);
        EXPECT_TRUE(ServiceAnswers(port));
        EXPECT_NE(ReadText(Environment.PerUserFolder / "service.log").find("http://127.0.0.1:" + std::to_string(port)),
                  std::string::npos);
    }
    EXPECT_FALSE(ServiceAnswers(port)) << "stopped with the program";
    EXPECT_TRUE(ProcessEnded(pid));
    EXPECT_NE(ReadText(Environment.PerUserFolder / "service.log").find("停止しました"), std::string::npos)
        << "stopped cleanly, not killed";
}

TEST_F(Startup, AGivenAddressIsNeverStartedEvenTheDefaultOne)
{
    const int port = Environment.DefaultPort;
    const std::string address = "http://127.0.0.1:" + std::to_string(port);
    TCommandLine byOption;
    byOption.ServiceUrl = QString::fromStdString(address);
    {
        const TStartup startup(byOption, Environment, Warn);
        EXPECT_EQ(startup.StartedServiceId(), 0);
        EXPECT_EQ(FinanceServiceAddress(), address);
    }
    Environment.ServiceUrlVariable = address;
    {
        const TStartup startup(TCommandLine{}, Environment, Warn);
        EXPECT_EQ(startup.StartedServiceId(), 0);
    }
    EXPECT_FALSE(ServiceAnswers(port));
    EXPECT_TRUE(Warnings.empty());
}

TEST_F(Startup, ARunningServiceIsUsedAndLeftRunning)
{
    const int port = Environment.DefaultPort;
    QProcess theirs;
    theirs.start(QStringLiteral(ORVANTA_SERVICE_BINARY), {QStringLiteral("--port"), QString::number(port)});
    ASSERT_TRUE(theirs.waitForStarted());
    for (int i = 0; i < 50 && !ServiceAnswers(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(ServiceAnswers(port));
    {
        const TStartup startup(TCommandLine{}, Environment, Warn);
        EXPECT_EQ(startup.StartedServiceId(), 0);
    }
    EXPECT_TRUE(ServiceAnswers(port));
    EXPECT_EQ(theirs.state(), QProcess::Running);
    theirs.terminate();
    EXPECT_TRUE(theirs.waitForFinished(5000));
}

TEST_F(Startup, AServiceThatDoesNotComeUpIsReportedAndTheWindowStillOpens)
{
    Environment.ServiceWait = std::chrono::milliseconds(300);
    {
        // Ends at once.
        Environment.ProgramFolder = FakeService("[ \"$1\" = --check ] && exit 1\necho 'cannot listen' >&2\nexit 1\n");
        const TStartup startup(TCommandLine{}, Environment, Warn);
        EXPECT_EQ(startup.StartedServiceId(), 0);
        ASSERT_EQ(Warnings.size(), 1u);
        EXPECT_TRUE(Warnings[0].contains(QStringLiteral("service.log"))) << Warnings[0].toStdString();
        EXPECT_EQ(ReadText(Environment.PerUserFolder / "service.log"), "cannot listen\n");
    }
    Warnings.clear();
    qint64 pid = 0;
    {
        // Runs, but never answers: waited for no longer than asked, and still stopped at the end.
        Environment.ProgramFolder = FakeService("[ \"$1\" = --check ] && exit 1\nexec sleep 30\n");
        const auto started = std::chrono::steady_clock::now();
        const TStartup startup(TCommandLine{}, Environment, Warn);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        ASSERT_EQ(Warnings.size(), 1u);
        pid = startup.StartedServiceId();
        EXPECT_NE(pid, 0);
    }
    EXPECT_TRUE(ProcessEnded(pid));
}

TEST_F(Startup, AMalformedAddressStopsTheStartBeforeAnythingIsMade)
{
    TCommandLine commandLine;
    commandLine.ServiceUrl = QStringLiteral("http://127.0.0.1:18650/");
    EXPECT_THROW(TStartup(commandLine, Environment, Warn), TStartupError);
    EXPECT_FALSE(std::filesystem::exists(Environment.PerUserFolder));
    EXPECT_EQ(std::filesystem::current_path(), Previous);
}

TEST_F(Startup, WithoutAServiceProgramTheUserIsTold)
{
    Environment.ProgramFolder = QString::fromStdString((Root / "empty").string());
    const QByteArray path = qgetenv("PATH");
    ::setenv("PATH", (Root / "empty").c_str(), 1);
    {
        const TStartup startup(TCommandLine{}, Environment, Warn);
        EXPECT_EQ(startup.StartedServiceId(), 0);
    }
    ::setenv("PATH", path.constData(), 1);
    ASSERT_EQ(Warnings.size(), 1u);
    EXPECT_TRUE(Warnings[0].contains(QStringLiteral("orvanta-service"))) << Warnings[0].toStdString();
}

} // namespace
