#include "app/startup/startup.h"
#include "app/startup/startup_data.h"
#include "common/service_contract.h"

#include "core_application.h"
#include "data/web_page.h"
#include "loopback_port.h"
#include "../startup_test_support.h"

#include <QCryptographicHash>
#include <QProcess>

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <csignal>
#include <grp.h>
#include <netinet/in.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <optional>
#include <thread>
#include <vector>

namespace {

// QProcess wants an application object; the start-up always has one.
class TCoreApplication : public ::testing::Environment
{
public:
    void SetUp() override { Application = MakeCoreApplication(); }
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

constexpr uid_t Nobody = 65534;

//! The real service serving the sample market on `port`, run as `uid` when that is not ours.
void StartService(QProcess& process, int port, uid_t uid)
{
    process.setProgram(QStringLiteral(ORVANTA_SERVICE_BINARY));
    process.setArguments({QStringLiteral("--port"), QString::number(port), QStringLiteral("--data"),
                          QStringLiteral(ORVANTA_SAMPLE_DATA)});
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (uid != ::geteuid())
        process.setChildProcessModifier([uid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)
                ::_exit(126);
        });
    process.start();
}

//! The user's own service started by hand on `port`, as `orvanta-service --port N`; true once
//! it answers (five seconds at most).
bool StartByHand(QProcess& process, int port)
{
    process.start(QStringLiteral(ORVANTA_SERVICE_BINARY), {QStringLiteral("--port"), QString::number(port)});
    if (!process.waitForStarted())
        return false;
    for (int i = 0; i < 50 && !ServiceAnswers(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return ServiceAnswers(port);
}

//! Whether something answers HTTP on 127.0.0.1:port.
bool Listening(int port)
{
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(1, 0);
    return static_cast<bool>(client.Get("/"));
}

// A program on loopback that is not the user's service: it answers what it is told, on the
// port it is given.
class TStandIn
{
public:
    TStandIn()
    {
        ::setenv("no_proxy", "127.0.0.1", 1);
        // The port may still hold connections of an earlier server in TIME_WAIT.
        Server.set_socket_options([](socket_t sock) {
            int yes = 1;
            ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        Server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
            const std::lock_guard lock(Mutex);
            Targets.push_back(request.target);
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }
    ~TStandIn()
    {
        CloseKeptConnection();
        Server.stop();
        if (Thread.joinable())
            Thread.join();
    }

    httplib::Server& Routes() { return Server; }

    //! Listens on `port` (0: any); returns the address. With `owner`, the sockets are that
    //! user's, as another user's program would be (needs root).
    std::string Start(int port = 0, std::optional<unsigned> owner = std::nullopt)
    {
        std::promise<int> bound;
        Thread = std::thread([this, port, owner, &bound] {
            if (owner)
                ::setfsuid(*owner); // this thread's file-system uid names its sockets
            const int taken = port == 0                                ? Server.bind_to_any_port("127.0.0.1")
                              : Server.bind_to_port("127.0.0.1", port) ? port
                                                                       : 0;
            bound.set_value(taken);
            if (taken != 0)
                Server.listen_after_bind();
        });
        Port = bound.get_future().get();
        if (Port == 0)
            return {};
        for (int i = 0; i < 5000 && !Server.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return "http://127.0.0.1:" + std::to_string(Port);
    }

    std::vector<std::string> Requests() const
    {
        const std::lock_guard lock(Mutex);
        return Targets;
    }

private:
    httplib::Server Server;
    std::thread Thread;
    int Port = 0;
    mutable std::mutex Mutex;
    std::vector<std::string> Targets;
};

//! The quote page of 7203 fetched from the address the start-up chose, as a lookup does.
std::string LookUp7203()
{
    std::filesystem::create_directories("dat");
    std::filesystem::remove("dat/k7203.t.00");
    if (GetWebPage(FinanceServiceAddress() + QuoteRoute + "?qt=7203.t&sv=MN&pg=mn_schart.html", "dat/k7203.t.00", {}) <=
        0)
        return {};
    std::ifstream in("dat/k7203.t.00", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
    ASSERT_TRUE(StartByHand(theirs, port));
    // Regression: the program looked for orvanta-service before it looked at the port, and a
    // user who started theirs by hand got "見つかりません" and no data from elsewhere.
    const struct
    {
        const char* Name;
        QString ProgramFolder;
        std::string Path;
    } rows[] = {
        {"the program beside", Environment.ProgramFolder, qgetenv("PATH").toStdString()},
        {"no program beside nor on PATH", QString::fromStdString((Root / "empty").string()), (Root / "empty").string()},
    };
    const QByteArray path = qgetenv("PATH");
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        Environment.ProgramFolder = row.ProgramFolder;
        ::setenv("PATH", row.Path.c_str(), 1);
        {
            const TStartup startup(TCommandLine{}, Environment, Warn);
            EXPECT_EQ(startup.StartedServiceId(), 0);
            EXPECT_TRUE(startup.ServiceStatus().Own);
            EXPECT_NE(LookUp7203().find("7203"), std::string::npos);
        }
        ::setenv("PATH", path.constData(), 1);
        EXPECT_TRUE(Warnings.empty()) << Warnings.front().toStdString();
        Warnings.clear();
    }
    EXPECT_TRUE(ServiceAnswers(port));
    EXPECT_EQ(theirs.state(), QProcess::Running);
    theirs.terminate();
    EXPECT_TRUE(theirs.waitForFinished(5000));
}

// Regression: another user listening IPv6-only on [::]:port made the user's own IPv4 service
// on the same port count as someone else's, as any listener on the port number was asked
// about; the start then ran a second service and the data update was off.
TEST_F(Startup, AnotherUsersIpv6OnlyListenerDoesNotHideTheUsersOwnService)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to listen as another user";
    const int port = Environment.DefaultPort;
    int foreign = -1;
    // The socket belongs to whoever's file-system uid made it: this thread's only.
    std::thread([&] {
        ::setfsuid(Nobody);
        foreign = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int yes = 1;
        ::setsockopt(foreign, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        address.sin6_port = htons(static_cast<std::uint16_t>(port));
        if (::bind(foreign, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(foreign, 4) != 0)
        {
            ::close(foreign);
            foreign = -1;
        }
    }).join();
    ASSERT_GE(foreign, 0) << "no IPv6 here";
    QProcess mine;
    mine.setProgram(QStringLiteral(ORVANTA_SERVICE_BINARY));
    mine.setArguments({QStringLiteral("--port"), QString::number(port), QStringLiteral("--data"),
                       QStringLiteral(ORVANTA_SAMPLE_DATA)});
    mine.setStandardOutputFile(QProcess::nullDevice());
    mine.setStandardErrorFile(QProcess::nullDevice());
    mine.start();
    ASSERT_TRUE(mine.waitForStarted());
    for (int i = 0; i < 100 && !Listening(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(Listening(port));
    {
        const TStartup startup(TCommandLine{}, Environment, Warn);
        EXPECT_EQ(startup.StartedServiceId(), 0) << "a second service was started";
        EXPECT_EQ(FinanceServiceAddress(), LoopbackServiceUrl(port));
        EXPECT_TRUE(startup.ServiceStatus().Own);
        EXPECT_TRUE(Warnings.empty()) << Warnings.front().toStdString();
    }
    ::close(foreign);
    mine.terminate();
    EXPECT_TRUE(mine.waitForFinished(5000));
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
    commandLine.ServiceUrl = QString::fromStdString(LoopbackServiceUrl(DefaultServicePort) + "/");
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

TEST_F(Startup, WhatHoldsTheDefaultPortWithoutBeingTheUsersServiceIsPassedOver)
{
    // Someone else's program on the port, dressed as the service the way the old check took it.
    TStandIn foreign;
    foreign.Routes().Get(R"(/.*)", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Server", ServiceProgram);
        res.set_content("<html>not the finance service</html>", "text/html");
    });
    ASSERT_FALSE(foreign.Start(Environment.DefaultPort).empty());
    EXPECT_FALSE(ServiceAnswers(Environment.DefaultPort)) << "orvanta-service --check took it for a service";

    const TStartup startup(TCommandLine{}, Environment, Warn);
    EXPECT_TRUE(Warnings.empty()) << Warnings.front().toStdString();
    ASSERT_NE(startup.StartedServiceId(), 0) << "no service of its own";
    const std::string own = FinanceServiceAddress();
    EXPECT_NE(own, LoopbackServiceUrl(Environment.DefaultPort));
    EXPECT_NE(LookUp7203().find("7203"), std::string::npos) << "the lookup got no page of its own service";
    for (const std::string& target : foreign.Requests())
        EXPECT_EQ(target.find(QuoteRoute), std::string::npos) << "a page was asked of the foreign program";
    EXPECT_NE(ReadText(startup.WorkFolder() / "service.log").find(own), std::string::npos)
        << "the service names the port it took";
    EXPECT_TRUE(startup.ServiceStatus().Own);
}

TEST_F(Startup, AnotherUsersServiceOnTheDefaultPortIsNotShared)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a service as another user";
    QProcess theirs;
    StartService(theirs, Environment.DefaultPort, Nobody);
    ASSERT_TRUE(theirs.waitForStarted());
    for (int i = 0; i < 100 && !Listening(Environment.DefaultPort); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(Listening(Environment.DefaultPort)) << "the other user's service did not start";
    EXPECT_FALSE(ServiceAnswers(Environment.DefaultPort)) << "orvanta-service --check took another user's service";
    {
        const TStartup startup(TCommandLine{}, Environment, Warn);
        EXPECT_NE(startup.StartedServiceId(), 0);
        EXPECT_NE(FinanceServiceAddress(), LoopbackServiceUrl(Environment.DefaultPort));
        EXPECT_FALSE(LookUp7203().empty());
    }
    EXPECT_EQ(theirs.state(), QProcess::Running) << "theirs is left alone";
    theirs.terminate();
    EXPECT_TRUE(theirs.waitForFinished(5000));
}

// Regression: whose service answered was checked once, at start. When the user's service
// stopped during a run and another user's program took the port, that program's pages were
// read as the service's (a batch run ended 0 with its rows).
TEST_F(Startup, AnotherUsersProgramThatTakesThePortLaterIsNoAnswer)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to answer as another user";
    const int port = Environment.DefaultPort;
    QProcess mine;
    ASSERT_TRUE(StartByHand(mine, port));

    const TStartup startup(TCommandLine{}, Environment, Warn);
    ASSERT_EQ(startup.StartedServiceId(), 0);
    EXPECT_NE(LookUp7203().find("7203"), std::string::npos);
    mine.terminate();
    ASSERT_TRUE(mine.waitForFinished(5000));

    TStandIn foreign;
    foreign.Routes().Get(R"(/.*)", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("7203 from another user's program", "text/html");
    });
    ASSERT_FALSE(foreign.Start(port, Nobody).empty());
    EXPECT_EQ(LookUp7203(), "");
    EXPECT_TRUE(foreign.Requests().empty()) << foreign.Requests().front();
}

TEST_F(Startup, AnotherUsersServiceGivenByAddressLendsNoStockList)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a service as another user";
    const int port = FreeLoopbackPort();
    QProcess theirs;
    StartService(theirs, port, Nobody);
    ASSERT_TRUE(theirs.waitForStarted());
    for (int i = 0; i < 100 && !Listening(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(Listening(port));

    // The working folder's list is the copy made last, so the user's own service's list would
    // replace it; a folder named by someone else's service is not read at all.
    const std::filesystem::path work = Root / "work";
    std::filesystem::create_directories(work / "dat");
    const std::string mine = "; my list\r\n";
    WriteText(work / "KabuList.dat", mine);
    WriteText(
        work / "KabuList.dat.sha256",
        QCryptographicHash::hash(QByteArray::fromStdString(mine), QCryptographicHash::Sha256).toHex().toStdString() +
            "\n");
    TCommandLine commandLine;
    commandLine.ServiceUrl = QString::fromStdString(LoopbackServiceUrl(port));
    commandLine.WorkDir = QString::fromStdString(work.string());
    {
        const TStartup startup(commandLine, Environment, Warn);
        EXPECT_TRUE(startup.ServiceStatus().Known);
        EXPECT_TRUE(startup.ServiceStatus().Sample);
        EXPECT_FALSE(startup.ServiceStatus().Own);
    }
    EXPECT_EQ(ReadText(work / "KabuList.dat"), mine);
    EXPECT_FALSE(std::filesystem::exists(work / "KabuList.new.dat"));
    theirs.terminate();
    EXPECT_TRUE(theirs.waitForFinished(5000));
}

TEST_F(Startup, TheServiceLogIsMadeAnewNotWrittenThroughALink)
{
    const std::filesystem::path victim = Root / "victim";
    WriteText(victim, "keep me");
    std::filesystem::create_directories(Environment.PerUserFolder);
    struct Row
    {
        const char* name;
        void (*plant)(const std::filesystem::path& target, const std::filesystem::path& link);
    };
    const Row rows[] = {
        {"symbolic link", [](const auto& target, const auto& link) { std::filesystem::create_symlink(target, link); }},
        {"hard link", [](const auto& target, const auto& link) { std::filesystem::create_hard_link(target, link); }},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::filesystem::path log = Environment.PerUserFolder / "service.log";
        std::filesystem::remove(log);
        row.plant(victim, log);
        {
            const TStartup startup(TCommandLine{}, Environment, Warn);
            EXPECT_NE(startup.StartedServiceId(), 0);
        }
        EXPECT_EQ(ReadText(victim), "keep me");
        EXPECT_FALSE(std::filesystem::is_symlink(log));
        EXPECT_NE(ReadText(log).find("停止しました"), std::string::npos);
    }
    EXPECT_TRUE(Warnings.empty());
}

TEST_F(Startup, AStartFolderOthersCanWriteIsPassedOverWithTheReason)
{
    // Another user's page for today planted in a shared folder must not be read as the cache.
    const std::filesystem::path shared = Environment.StartFolder;
    std::filesystem::create_directories(shared / "dat");
    WriteText(shared / "dat" / "k7203.t.00", "planted");
    std::filesystem::permissions(shared, std::filesystem::perms::others_write, std::filesystem::perm_options::add);
    Environment.ServiceUrlVariable = "http://127.0.0.1:1";
    {
        const TStartup startup(TCommandLine{}, Environment, Warn);
        EXPECT_EQ(startup.WorkFolder(), Environment.PerUserFolder);
        ASSERT_EQ(Warnings.size(), 1u);
        EXPECT_TRUE(Warnings[0].contains(QString::fromStdString(shared.string()))) << Warnings[0].toStdString();
    }
    TCommandLine chosen;
    chosen.WorkDir = QString::fromStdString(shared.string());
    try
    {
        const TStartup startup(chosen, Environment, Warn);
        FAIL() << "--workdir took a folder others can write";
    }
    catch (const TStartupError& error)
    {
        EXPECT_TRUE(error.Text().contains(QStringLiteral("--workdir"))) << error.what();
    }
}

// The user's own service on loopback, answering its status as the test sets it; its data
// folder is the test's.
class ServiceData : public Startup
{
protected:
    void SetUp() override
    {
        Startup::SetUp();
        Data = Root / "service";
        Work = Root / "work";
        std::filesystem::create_directories(Data);
        std::filesystem::create_directories(Work / "dat");
        Service.Routes().Get(StatusRoute, [this](const httplib::Request&, httplib::Response& res) {
            const std::lock_guard lock(Mutex);
            if (!Body.empty())
            {
                res.set_content(Body, "application/json");
                return;
            }
            const auto field = [](const char* name, const std::string& value) {
                return '"' + std::string(name) + "\":" + value;
            };
            res.set_content('{' + field(StatusProgramField, '"' + std::string(ServiceProgram) + '"') + ',' +
                                field(StatusVersionField, "\"1.6a\"") + ',' + field(StatusUidField, "0") + ',' +
                                field(StatusDataField, '"' + Data.string() + '"') + ',' +
                                field(StatusSampleField, "false") + ',' +
                                field(StatusDataVersionField, '"' + Version + '"') + '}',
                            "application/json");
        });
        CommandLine.ServiceUrl = QString::fromStdString(Service.Start());
        CommandLine.WorkDir = QString::fromStdString(Work.string());
    }

    void SetVersion(const std::string& version)
    {
        const std::lock_guard lock(Mutex);
        Version = version;
    }

    //! The status answered as it is; empty: the service's own.
    void SetBody(const std::string& body)
    {
        const std::lock_guard lock(Mutex);
        Body = body;
    }

    int StatusRequests() const
    {
        const std::vector<std::string> targets = Service.Requests();
        return static_cast<int>(std::count(targets.begin(), targets.end(), std::string(StatusRoute)));
    }

    //! A start of the program and its end: what it says goes to Warnings.
    TServiceStatus StartAndEnd()
    {
        const TStartup startup(CommandLine, Environment, Warn);
        return startup.ServiceStatus();
    }

    std::filesystem::path Data;
    std::filesystem::path Work;
    std::mutex Mutex;
    std::string Version = "1";
    std::string Body;
    // After what its handler reads, so it stops before those go away.
    TStandIn Service;
    TCommandLine CommandLine;
};

TEST_F(ServiceData, TodaysCacheIsDroppedWhenTheDataVersionMoves)
{
    const std::filesystem::path dat = Work / "dat";
    const auto fill = [&] {
        WriteText(dat / "k7203.t.00", "quote");
        WriteText(dat / "k7203.t.02", "weekly");
        WriteText(dat / "k130A.t.01", "daily");
    };
    fill();
    EXPECT_EQ(StartAndEnd().DataVersion, "1");
    EXPECT_FALSE(std::filesystem::exists(dat / "k7203.t.00")) << "filled before any version was known";
    EXPECT_EQ(ReadText(dat / "data-version"), "1\n");

    fill();
    const std::filesystem::path old = dat / "k1301.t.00";
    WriteText(old, "yesterday");
    std::filesystem::last_write_time(old, std::filesystem::file_time_type::clock::now() - std::chrono::hours(48));
    WriteText(dat / "notes.txt", "the user's");
    WriteText(Root / "victim", "keep me");
    std::filesystem::create_symlink(Root / "victim", dat / "k9999.t.00");
    StartAndEnd();
    EXPECT_TRUE(std::filesystem::exists(dat / "k7203.t.00")) << "same version: the cache holds";

    SetVersion("2");
    StartAndEnd();
    for (const char* name : {"k7203.t.00", "k7203.t.02", "k130A.t.01"})
        EXPECT_FALSE(std::filesystem::exists(dat / name)) << name;
    EXPECT_EQ(ReadText(old), "yesterday") << "not today's: fetched anew anyway";
    EXPECT_EQ(ReadText(dat / "notes.txt"), "the user's");
    EXPECT_TRUE(std::filesystem::is_symlink(dat / "k9999.t.00"));
    EXPECT_EQ(ReadText(Root / "victim"), "keep me");
    EXPECT_EQ(ReadText(dat / "data-version"), "2\n");

    // After a fetch from the window, without a new start.
    fill();
    SetVersion("3");
    EXPECT_TRUE(TServiceDataWatch().CatchUpNow(Warn));
    EXPECT_EQ(CurrentServiceStatus().DataVersion, "3");
    EXPECT_FALSE(std::filesystem::exists(dat / "k7203.t.00"));
    EXPECT_TRUE(Warnings.empty()) << Warnings.front().toStdString();

    // A version that cannot be recorded is told, and the start goes on.
    std::filesystem::remove(dat / "data-version");
    std::filesystem::create_directories(dat / "data-version" / "in-the-way");
    SetVersion("4");
    EXPECT_EQ(StartAndEnd().DataVersion, "4");
    ASSERT_EQ(Warnings.size(), 1u);
    EXPECT_TRUE(Warnings[0].contains(QString::fromStdString(dat.string()))) << Warnings[0].toStdString();
}

TEST_F(ServiceData, TheServicesListReplacesOnlyTheCopyMadeLast)
{
    const std::filesystem::path list = Work / "KabuList.dat";
    const std::filesystem::path newList = Work / "KabuList.new.dat";
    WriteText(Data / "KabuList.dat", "; list A\r\n");
    EXPECT_TRUE(StartAndEnd().Own);
    EXPECT_EQ(ReadText(list), "; list A\r\n") << "none there: copied";

    WriteText(Data / "KabuList.dat", "; list B\r\n");
    StartAndEnd();
    EXPECT_EQ(ReadText(list), "; list B\r\n") << "untouched since the copy: replaced";
    EXPECT_TRUE(Warnings.empty());

    // The user's edit is never overwritten; a planted link is replaced, not written through.
    WriteText(list, "; my own list\r\n");
    WriteText(Root / "victim", "keep me");
    std::filesystem::create_symlink(Root / "victim", newList);
    WriteText(Data / "KabuList.dat", "; list C\r\n");
    StartAndEnd();
    EXPECT_EQ(ReadText(list), "; my own list\r\n");
    EXPECT_EQ(ReadText(newList), "; list C\r\n");
    EXPECT_FALSE(std::filesystem::is_symlink(newList));
    EXPECT_EQ(ReadText(Root / "victim"), "keep me");
    ASSERT_EQ(Warnings.size(), 1u);
    EXPECT_TRUE(Warnings[0].contains(QStringLiteral("KabuList.new.dat"))) << Warnings[0].toStdString();

    StartAndEnd();
    EXPECT_EQ(Warnings.size(), 1u) << "said once, not at every start";

    // After a fetch from the window.
    WriteText(list, "; list C\r\n");
    WriteText(Data / "KabuList.dat", "; list D\r\n");
    SetVersion("2");
    TServiceDataWatch().CatchUpNow(Warn);
    EXPECT_EQ(ReadText(list), "; list D\r\n") << "the user took the new list: theirs is the copy again";
}

TEST_F(ServiceData, TheRunningProgramAsksAtMostOnceASecond)
{
    StartAndEnd();
    auto now = std::chrono::steady_clock::time_point{};
    TServiceDataWatch watch([&] { return now; });
    const int atStart = StatusRequests();
    EXPECT_FALSE(watch.CatchUp(Warn)) << "the same version";
    EXPECT_EQ(StatusRequests(), atStart + 1);
    SetVersion("2");
    now += std::chrono::milliseconds(999);
    EXPECT_FALSE(watch.CatchUp(Warn)) << "the answer of a moment ago still holds";
    EXPECT_EQ(StatusRequests(), atStart + 1);
    now += std::chrono::milliseconds(1);
    EXPECT_TRUE(watch.CatchUp(Warn));
    EXPECT_EQ(StatusRequests(), atStart + 2);
    EXPECT_EQ(CurrentServiceStatus().DataVersion, "2");
    EXPECT_TRUE(Warnings.empty()) << Warnings.front().toStdString();
}

// A status that is not an orvanta-service's says nothing of the data, at the start and while
// the program runs: no cache is dropped, no list brought in, and the caption never says sample.
TEST_F(ServiceData, AnotherProgramsStatusChangesNothing)
{
    const std::filesystem::path dat = Work / "dat";
    const std::string data = '"' + Data.string() + '"';
    const struct
    {
        const char* Name;
        std::string Body;
        bool Taken; // the service's own answer: the control row
    } rows[] = {
        {"another program", R"({"program":"other-service","sample":true,"data_version":"9","data":)" + data + '}',
         false},
        {"no program", R"({"sample":true,"data_version":"9","data":)" + data + '}', false},
        {"an array", R"([{"program":"orvanta-service","sample":true,"data_version":"9"}])", false},
        {"the service's own", R"({"program":"orvanta-service","sample":true,"data_version":"9","data":)" + data + '}',
         true},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        SetBody({});
        SetVersion("1");
        std::filesystem::remove(Work / "KabuList.dat");
        std::filesystem::remove(Work / "KabuList.dat.sha256");
        WriteText(Data / "KabuList.dat", "; list 1\r\n");
        StartAndEnd();
        ASSERT_EQ(CurrentServiceStatus().DataVersion, "1");
        WriteText(dat / "k7203.t.00", "quote");
        WriteText(Data / "KabuList.dat", "; list 9\r\n");

        SetBody(row.Body);
        EXPECT_EQ(TServiceDataWatch().CatchUpNow(Warn), row.Taken) << "running";
        EXPECT_EQ(std::filesystem::exists(dat / "k7203.t.00"), !row.Taken);
        EXPECT_EQ(ReadText(Work / "KabuList.dat"), row.Taken ? "; list 9\r\n" : "; list 1\r\n");
        EXPECT_EQ(MainWindowCaption(CurrentServiceStatus()).contains(QStringLiteral("サンプルデータ")), row.Taken);

        WriteText(dat / "k7203.t.00", "quote");
        std::filesystem::remove(Work / "KabuList.dat");
        std::filesystem::remove(dat / "data-version");
        EXPECT_EQ(StartAndEnd().Known, row.Taken) << "at the start";
        EXPECT_EQ(std::filesystem::exists(dat / "k7203.t.00"), !row.Taken);
        EXPECT_EQ(std::filesystem::exists(Work / "KabuList.dat"), row.Taken);
        EXPECT_EQ(MainWindowCaption(CurrentServiceStatus()).contains(QStringLiteral("サンプルデータ")), row.Taken);
    }
    EXPECT_TRUE(Warnings.empty()) << Warnings.front().toStdString();
}

TEST_F(Startup, TheServiceTellsWhichFreePortItTook)
{
    QProcess service;
    service.start(
        QStringLiteral(ORVANTA_SERVICE_BINARY),
        {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), QStringLiteral(ORVANTA_SAMPLE_DATA)});
    ASSERT_TRUE(service.waitForStarted());
    QByteArray said;
    for (int i = 0; i < 100 && !said.contains("http://127.0.0.1:"); ++i)
    {
        service.waitForReadyRead(100);
        said += service.readAllStandardError();
    }
    const qsizetype at = said.indexOf("http://127.0.0.1:");
    ASSERT_GE(at, 0) << said.toStdString();
    const int port = said.mid(at + 17).split('\n').constFirst().toInt();
    EXPECT_GT(port, 0);
    EXPECT_TRUE(ServiceAnswers(port));
    service.terminate();
    EXPECT_TRUE(service.waitForFinished(5000));
}

// The data API's key is for the fetch alone; the serving process had it in its environment,
// readable in /proc as long as it ran.
TEST_F(Startup, TheServiceItStartsDoesNotGetTheApiKey)
{
    ::setenv(ApiKeyVariable, "test-key-not-a-real-key", 1);
    ::setenv("ORVANTA_TEST_MARK", "inherited", 1);
    std::string environment;
    {
        const TStartup startup(TCommandLine{}, Environment, Warn);
        ASSERT_NE(startup.StartedServiceId(), 0);
        std::ifstream in("/proc/" + std::to_string(startup.StartedServiceId()) + "/environ", std::ios::binary);
        environment.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ::unsetenv(ApiKeyVariable);
    ::unsetenv("ORVANTA_TEST_MARK");
    EXPECT_NE(environment.find("ORVANTA_TEST_MARK=inherited"), std::string::npos) << "the rest is passed on";
    EXPECT_EQ(environment.find(ApiKeyVariable), std::string::npos);
    EXPECT_EQ(environment.find("not-a-real-key"), std::string::npos);
}

} // namespace
