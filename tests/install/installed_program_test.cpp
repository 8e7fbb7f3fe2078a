// The installed program as a user meets it: started on a bare X server (Xvfb) from an empty
// folder with an empty home, driven by keyboard and mouse (xdotool), its window read back
// from screen dumps (xwd). Needs the default service port to itself: a lock file keeps these
// tests apart, also from those of another build on the same machine.

#include "core_application.h"
#include "common/service_contract.h"

#include <QProcess>

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

const std::filesystem::path Prefix = ORVANTA_INSTALL_PREFIX;

//! Polls `done` every 100 ms until it holds or `limit` passes.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done())
    {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

//! Runs a tool to its end (at most 20 s) and returns its standard output; nothing on failure.
std::optional<QByteArray> RunTool(const QString& program, const QStringList& arguments, const QString& display = {})
{
    QProcess process;
    if (!display.isEmpty())
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display);
        process.setProcessEnvironment(environment);
    }
    process.start(program, arguments);
    if (!process.waitForFinished(20000))
    {
        process.kill();
        process.waitForFinished(5000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

std::optional<QByteArray> Xdotool(const QStringList& arguments)
{
    return RunTool(QStringLiteral("xdotool"), arguments);
}

bool ServiceAnswers()
{
    return RunTool(QString::fromStdString((Prefix / "bin" / "orvanta-service").string()), {QStringLiteral("--check")})
        .has_value();
}

//! The process's parent and state from /proc; state 0 when it is gone.
struct TProcessInfo
{
    qint64 Parent = 0;
    char State = 0;
    std::string Name;
};
TProcessInfo ProcessInfo(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t open = text.find('(');
    const std::size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 4 >= text.size())
        return {};
    TProcessInfo info;
    info.Name = text.substr(open + 1, close - open - 1);
    info.State = text[close + 2];
    info.Parent = std::atoll(text.c_str() + close + 4);
    return info;
}

//! The orvanta-service process whose parent is `parent`; 0 when there is none.
qint64 ServiceChildOf(qint64 parent)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc"))
    {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const qint64 pid = std::atoll(name.c_str());
        const TProcessInfo info = ProcessInfo(pid);
        if (info.Parent == parent && info.Name == "orvanta-service" && info.State != 'Z')
            return pid;
    }
    return 0;
}

//! Gone, or a zombie, which this process (their subreaper) then reaps.
bool ProcessEnded(qint64 pid)
{
    const TProcessInfo info = ProcessInfo(pid);
    if (info.State == 'Z')
        ::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG);
    return info.State == 0 || info.State == 'Z';
}

// A window dump in X's own format (xwd), 32 bits per pixel as Xvfb gives at depth 24.
class TScreenDump
{
public:
    static std::optional<TScreenDump> Of(const QString& window)
    {
        const std::optional<QByteArray> bytes = RunTool(QStringLiteral("xwd"), {QStringLiteral("-silent"), QStringLiteral("-id"), window});
        if (!bytes || bytes->size() < 100)
            return std::nullopt;
        TScreenDump dump;
        dump.Bytes = *bytes;
        const quint32 headerSize = dump.Field(0);
        dump.Width = static_cast<int>(dump.Field(4));
        dump.Height = static_cast<int>(dump.Field(5));
        dump.LsbFirst = dump.Field(7) == 0;
        dump.BytesPerLine = static_cast<int>(dump.Field(12));
        dump.Data = static_cast<qsizetype>(headerSize + dump.Field(19) * 12); // after the colour table
        if (dump.Field(11) != 32 || dump.Data + qsizetype(dump.BytesPerLine) * dump.Height > dump.Bytes.size())
            return std::nullopt;
        return dump;
    }

    //! 0xRRGGBB of a pixel of the window; a pixel outside it reads as none of those.
    quint32 Pixel(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= Width || y >= Height)
            return 0xffffffff;
        const auto* p = reinterpret_cast<const uchar*>(Bytes.constData() + Data + qsizetype(y) * BytesPerLine + x * 4);
        const quint32 value = LsbFirst ? (p[0] | p[1] << 8 | p[2] << 16 | quint32(p[3]) << 24)
                                       : (p[3] | p[2] << 8 | p[1] << 16 | quint32(p[0]) << 24);
        return value & 0xffffff;
    }

    int Width = 0;
    int Height = 0;

private:
    quint32 Field(int index) const
    {
        const auto* p = reinterpret_cast<const uchar*>(Bytes.constData() + index * 4);
        return quint32(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; // the header is big-endian
    }

    QByteArray Bytes;
    qsizetype Data = 0;
    int BytesPerLine = 0;
    bool LsbFirst = true;
};

// The quote board is the black panel at the left of the chart view, 59 px below the top of
// the window's client area (input bar 41, board title 18); its values are at 60..170.
constexpr int BoardTopInClient = 59;

//! The window row where the black board starts, which tells the menu bar's height.
std::optional<int> BoardTop(const TScreenDump& dump)
{
    for (int y = 0; y < std::min(dump.Height, 200); ++y)
    {
        int black = 0;
        for (int x = 0; x < 180 && x < dump.Width; ++x)
            black += dump.Pixel(x, y) == 0 ? 1 : 0;
        if (black >= 170)
            return y;
    }
    return std::nullopt;
}

//! Pixels of the rectangle [left, right) x [top, bottom) that differ between two dumps.
int Changes(const TScreenDump& before, const TScreenDump& after, int left, int top, int right, int bottom)
{
    int changed = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            changed += before.Pixel(x, y) != after.Pixel(x, y) ? 1 : 0;
    return changed;
}

// One bare X server for the test process, and the default port to ourselves.
class TDesktop : public ::testing::Environment
{
public:
    void SetUp() override
    {
        Application = MakeCoreApplication();
        // A killed program's service comes to us, so we can see it end and reap it.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);

        LockFd = ::open("/tmp/orvanta-default-port.lock", O_CREAT | O_RDWR, 0666);
        ASSERT_GE(LockFd, 0);
        ASSERT_TRUE(WaitFor([this] { return ::flock(LockFd, LOCK_EX | LOCK_NB) == 0; }, 150s))
            << "another test keeps the default service port";

        // A display number of our own, and a check that the server answering there is ours (by
        // its screen size): other X servers may come and go on a shared machine.
        for (int attempt = 0; attempt < 5 && Display.isEmpty(); ++attempt)
        {
            const QString display = QStringLiteral(":%1").arg(100 + (::getpid() + attempt * 131) % 800);
            Xvfb.start(QStringLiteral("Xvfb"), {display, QStringLiteral("-screen"), QStringLiteral("0"),
                                                QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                                                QStringLiteral("tcp")});
            ASSERT_TRUE(Xvfb.waitForStarted(10000));
            const bool ours = WaitFor(
                [&] {
                    const auto size = RunTool(QStringLiteral("xdotool"),
                                              {QStringLiteral("getdisplaygeometry")}, display);
                    return (size && size->trimmed() == "1280 1024") || Xvfb.waitForFinished(0);
                },
                20s);
            // A server that found the number taken exits at once; one that stays is ours.
            if (ours && !Xvfb.waitForFinished(1000))
                Display = display;
            else
            {
                Xvfb.kill();
                Xvfb.waitForFinished(10000);
            }
        }
        ASSERT_FALSE(Display.isEmpty()) << "no X server of our own";
        qputenv("DISPLAY", Display.toLatin1());
    }

    void TearDown() override
    {
        Xvfb.terminate();
        Xvfb.waitForFinished(10000);
        if (LockFd >= 0)
            ::close(LockFd);
        Application.reset();
    }

    static inline QString Display;

private:
    std::unique_ptr<QCoreApplication> Application;
    QProcess Xvfb;
    int LockFd = -1;
};
const auto* const Desktop = ::testing::AddGlobalTestEnvironment(new TDesktop);

class InstalledProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* base = std::getenv("ORVANTA_TEST_TMP");
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        Root = std::filesystem::path(base ? base : "/tmp") / (std::string("installed_") + info->name());
        std::filesystem::remove_all(Root);
        std::filesystem::create_directories(Root / "start");
        std::filesystem::create_directories(Root / "home");
        ASSERT_TRUE(std::filesystem::exists(Prefix / "bin" / "orvanta")) << "not installed in " << Prefix;
        ASSERT_TRUE(WaitFor([] { return !ServiceAnswers(); }, 30s))
            << "something already answers on port " << DefaultServicePort << "; stop it to run this test";
    }

    void TearDown() override
    {
        if (Program.state() != QProcess::NotRunning)
        {
            Program.kill();
            Program.waitForFinished(10000);
        }
    }

    //! The user's environment: nothing but a display, a home and the system's PATH.
    QProcessEnvironment UserEnvironment() const
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/bin:/usr/bin:/bin"));
        environment.insert(QStringLiteral("HOME"), QString::fromStdString((Root / "home").string()));
        environment.insert(QStringLiteral("DISPLAY"), TDesktop::Display);
        environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        for (const char* sanitizer : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
            if (qEnvironmentVariableIsSet(sanitizer))
                environment.insert(QString::fromLatin1(sanitizer), qEnvironmentVariable(sanitizer));
        QString leakOptions = qEnvironmentVariable("LSAN_OPTIONS");
        if (!leakOptions.isEmpty())
            leakOptions += QLatin1Char(':');
        environment.insert(QStringLiteral("LSAN_OPTIONS"),
                           leakOptions + QStringLiteral("suppressions=" ORVANTA_LSAN_SUPPRESSIONS));
        return environment;
    }

    std::filesystem::path DataFolder() const { return Root / "home" / ".local" / "share" / "orvanta"; }

    //! Starts the installed program and waits for its window; empty on failure.
    QString StartProgram()
    {
        Program.setProgram(QString::fromStdString((Prefix / "bin" / "orvanta").string()));
        Program.setWorkingDirectory(QString::fromStdString((Root / "start").string()));
        Program.setProcessEnvironment(UserEnvironment());
        Program.setStandardOutputFile(QString::fromStdString((Root / "program.out").string()));
        Program.setStandardErrorFile(QString::fromStdString((Root / "program.err").string()));
        Program.start();
        if (!Program.waitForStarted(10000))
            return {};
        QString window;
        WaitFor(
            [&] {
                const auto found = Xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                                   QStringLiteral("--name"), QStringLiteral("Ver1\\.6a")});
                if (found)
                    window = QString::fromLatin1(found->split('\n').constFirst().trimmed());
                return !window.isEmpty() || Program.waitForFinished(0);
            },
            40s);
        return window;
    }

    //! Why no window came: the program's exit and what it wrote to stderr, for the failure.
    std::string NoWindow()
    {
        std::string why = "no window";
        if (Program.state() == QProcess::NotRunning)
            why += "; the program ended with " + std::to_string(Program.exitCode()) +
                   (Program.exitStatus() == QProcess::CrashExit ? " (crashed)" : "");
        std::ifstream errors(Root / "program.err");
        return why + "; its stderr:\n" + std::string(std::istreambuf_iterator<char>(errors), {});
    }

    //! Types 7203 into the code box and presses 表示, then waits for the board to show it.
    void LookUp7203(const QString& window)
    {
        std::optional<TScreenDump> before;
        std::optional<int> boardTop;
        ASSERT_TRUE(WaitFor(
            [&] {
                before = TScreenDump::Of(window);
                boardTop = before ? BoardTop(*before) : std::nullopt;
                return boardTop.has_value();
            },
            20s))
            << "no quote board on screen";
        int clientTop = *boardTop - BoardTopInClient;
        // The code box is at 97..137 of the input bar, the 表示 button at 9..83. A busy machine
        // (a sanitizer build) can lose the first click into a window just shown, or dump it
        // before its last layout: type until the box shows digits, finding the box anew each
        // time, then press the button.
        const auto typed = [&] {
            if (const std::optional<TScreenDump> latest = TScreenDump::Of(window))
                if (const std::optional<int> top = BoardTop(*latest))
                    clientTop = *top - BoardTopInClient;
            Xdotool({QStringLiteral("windowfocus"), window});
            Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QStringLiteral("117"),
                     QString::number(clientTop + 21), QStringLiteral("click"), QStringLiteral("1")});
            Xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")});
            Xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("7203")});
            std::this_thread::sleep_for(300ms);
            const std::optional<TScreenDump> now = TScreenDump::Of(window);
            return now && Changes(*before, *now, 100, clientTop + 13, 134, clientTop + 30) > 20;
        };
        ASSERT_TRUE(WaitFor(typed, 30s)) << "the code box takes no keys";

        // Pressed again only when nothing came: a second lookup of the day reads the cache.
        const std::filesystem::path dat = DataFolder() / "dat";
        const auto fetched = [&] {
            return std::filesystem::exists(dat / "k7203.t.00") && std::filesystem::exists(dat / "k7203.t.02");
        };
        bool pagesCame = false;
        for (int press = 0; press < 3 && !pagesCame; ++press)
        {
            Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QStringLiteral("46"),
                     QString::number(clientTop + 23), QStringLiteral("click"), QStringLiteral("1")});
            pagesCame = WaitFor(fetched, 15s);
        }
        EXPECT_TRUE(pagesCame) << "the lookup fetched no pages";
        int changes = 0;
        EXPECT_TRUE(WaitFor(
            [&] {
                const std::optional<TScreenDump> after = TScreenDump::Of(window);
                // The board's value column.
                changes = after ? Changes(*before, *after, 60, *boardTop, 150, *boardTop + 155) : 0;
                return changes > 200;
            },
            20s))
            << "the board shows no figures (" << changes << " pixels changed)";
    }

    //! Chooses メニュー(&M) > 終了(&X) and waits for the program to end.
    bool QuitProgram()
    {
        Xdotool({QStringLiteral("key"), QStringLiteral("alt+m")});
        std::this_thread::sleep_for(500ms);
        Xdotool({QStringLiteral("key"), QStringLiteral("x")});
        return Program.waitForFinished(20000);
    }

    std::filesystem::path Root;
    QProcess Program;
};

TEST_F(InstalledProgram, RunsItsOwnServiceAndKeepsItsFilesInTheXdgDataFolder)
{
    const QString window = StartProgram();
    ASSERT_FALSE(window.isEmpty()) << NoWindow();
    const qint64 service = ServiceChildOf(Program.processId());
    ASSERT_NE(service, 0) << "the program started no service";
    EXPECT_TRUE(ServiceAnswers());
    const std::optional<QByteArray> caption = Xdotool({QStringLiteral("getwindowname"), window});
    EXPECT_EQ(QString::fromUtf8(caption.value_or(QByteArray()).trimmed()),
              QStringLiteral("Orvanta(おるばんた) Ver1.6a（サンプルデータ）"));

    LookUp7203(window);

    ASSERT_TRUE(QuitProgram());
    EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Program.exitCode(), 0);
    EXPECT_TRUE(WaitFor([&] { return ProcessEnded(service); }, 10s)) << "the service outlived the program";
    EXPECT_FALSE(ServiceAnswers());

    EXPECT_TRUE(std::filesystem::is_empty(Root / "start"));
    EXPECT_TRUE(std::filesystem::exists(DataFolder() / "KabuList.dat"));
    std::ifstream log(DataFolder() / "service.log");
    const std::string logText((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(logText.find("qt=7203.t"), std::string::npos) << logText;
    EXPECT_NE(logText.find((Prefix / "share" / "orvanta").string()), std::string::npos)
        << "the installed sample market is served: " << logText;
}

TEST_F(InstalledProgram, RunsItsOwnServiceBesideAForeignProgramOnTheDefaultPort)
{
    // Another program on the port, answering everything as the old check expected a service to.
    httplib::Server foreign;
    std::atomic<int> pagesAsked{0};
    foreign.Get(R"(/.*)", [&](const httplib::Request& request, httplib::Response& response) {
        pagesAsked += request.path.rfind(QuoteRoute, 0) == 0 ? 1 : 0;
        response.set_header("Server", ServiceProgram);
        response.set_content("<html>something else</html>", "text/html");
    });
    // The last test's connections may still be in TIME_WAIT on the port.
    foreign.set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    ASSERT_TRUE(WaitFor([&] { return foreign.bind_to_port("127.0.0.1", DefaultServicePort); }, 30s));
    std::thread serving([&] { foreign.listen_after_bind(); });
    // Nothing may leave this test before the server is stopped: its handler uses our locals.
    const bool running = WaitFor([&] { return foreign.is_running(); }, 10s);
    EXPECT_FALSE(ServiceAnswers()) << "orvanta-service --check took it for a service";

    const QString window = running ? StartProgram() : QString();
    if (!window.isEmpty())
    {
        EXPECT_NE(ServiceChildOf(Program.processId()), 0) << "the program started no service of its own";
        LookUp7203(window);
        EXPECT_TRUE(QuitProgram());
    }
    foreign.stop();
    serving.join();
    ASSERT_TRUE(running);
    ASSERT_FALSE(window.isEmpty()) << NoWindow();
    EXPECT_EQ(pagesAsked.load(), 0) << "pages were asked of the foreign program";
}

TEST_F(InstalledProgram, LeavesAServiceThatWasRunningRunning)
{
    QProcess theirs;
    theirs.setProcessEnvironment(UserEnvironment());
    theirs.start(QString::fromStdString((Prefix / "bin" / "orvanta-service").string()), {});
    ASSERT_TRUE(theirs.waitForStarted(10000));
    ASSERT_TRUE(WaitFor(ServiceAnswers, 10s));

    const QString window = StartProgram();
    ASSERT_FALSE(window.isEmpty()) << NoWindow();
    EXPECT_EQ(ServiceChildOf(Program.processId()), 0) << "a second service was started";
    LookUp7203(window);
    ASSERT_TRUE(QuitProgram());
    EXPECT_EQ(Program.exitCode(), 0);

    EXPECT_EQ(theirs.state(), QProcess::Running);
    EXPECT_TRUE(ServiceAnswers());
    theirs.terminate();
    EXPECT_TRUE(theirs.waitForFinished(10000));
}

TEST_F(InstalledProgram, AKilledProgramTakesItsServiceWithIt)
{
    const QString window = StartProgram();
    ASSERT_FALSE(window.isEmpty()) << NoWindow();
    const qint64 service = ServiceChildOf(Program.processId());
    ASSERT_NE(service, 0);
    ::kill(static_cast<pid_t>(Program.processId()), SIGKILL);
    Program.waitForFinished(10000);
    EXPECT_TRUE(WaitFor([&] { return ProcessEnded(service); }, 10s)) << "the service outlived the program";
    EXPECT_TRUE(WaitFor([] { return !ServiceAnswers(); }, 10s));
}

} // namespace
