#include "app/startup/bundled_service.h"

#include "app/startup/startup_settings.h"
#include "common/service_contract.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int StopLimitMs = 5000;

//! A socket bound to 127.0.0.1:`port` (0: any free port), or -1.
int BindLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // As the service binds: a connection of the last run in TIME_WAIT does not take the port.
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        ::close(fd);
        return -1;
    }
    return fd;
}

//! Creates the log anew: a file, a link or a hard link of that name is removed, not written
//! through. -1 when it cannot be made.
int OpenLog(const QString& logFile)
{
    const QByteArray path = logFile.toLocal8Bit();
    ::unlink(path.constData());
    return ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

} // namespace

QString TBundledService::FindProgram(const QString& programFolder)
{
    const QString name = QLatin1String(ServiceProgram);
    const QFileInfo beside(programFolder + QLatin1Char('/') + name);
    if (!programFolder.isEmpty() && beside.isFile() && beside.isExecutable())
        return beside.absoluteFilePath();
    return QStandardPaths::findExecutable(name);
}

int TBundledService::FreeLoopbackPort()
{
    const int fd = BindLoopback(0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    const int port =
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 ? ntohs(address.sin_port) : 0;
    ::close(fd);
    return port;
}

bool TBundledService::PortTaken(int port)
{
    const int fd = BindLoopback(port);
    if (fd < 0)
        return true;
    ::close(fd);
    return false;
}

TBundledService::TBundledService(QString program, int port) : Program_(std::move(program)), Port_(port) {}

TBundledService::~TBundledService()
{
    Stop();
}

std::optional<TServiceStatus> TBundledService::OwnStatusAt(int port)
{
    // The answer alone can be given by any program; the kernel's word on the socket cannot.
    std::optional<TServiceStatus> status = AskServiceStatus(LoopbackServiceUrl(port));
    if (!status || !status->Own)
        return std::nullopt;
    return status;
}

TBundledService::TStart TBundledService::Start(const QString& logFile, std::chrono::milliseconds wait, bool& logFailed)
{
    const QDeadlineTimer deadline(wait);
    const int log = OpenLog(logFile);
    logFailed = log < 0;
    Process_.setProgram(Program_);
    Process_.setArguments({QStringLiteral("--port"), QString::number(Port_)});
    Process_.setStandardInputFile(QProcess::nullDevice());
    // The serving process never asks the data API; a key in its environment would only be one
    // more place it could leak from (/proc, a crash report).
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QLatin1String(ApiKeyVariable));
    Process_.setProcessEnvironment(environment);
    if (log < 0)
    {
        Process_.setStandardOutputFile(QProcess::nullDevice());
        Process_.setStandardErrorFile(QProcess::nullDevice());
    }
    else
        Process_.setProcessChannelMode(QProcess::ForwardedChannels);
    const pid_t program = ::getpid();
    Process_.setChildProcessModifier([program, log] {
        // A killed program cannot stop its service; the kernel does it for us. Should the
        // program have died before this line, the service is not started at all.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != program)
            ::_exit(1);
        if (log >= 0 && (::dup2(log, STDOUT_FILENO) < 0 || ::dup2(log, STDERR_FILENO) < 0))
            ::_exit(1);
    });
    Process_.start();
    if (log >= 0)
        ::close(log);
    if (!Process_.waitForStarted(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1000))))
        return TStart::Ended;
    for (;;)
    {
        if (OwnStatus())
            return TStart::Answering;
        if (deadline.hasExpired())
            return TStart::NoAnswer;
        const int pause = static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, 100));
        if (Process_.waitForFinished(pause))
            return TStart::Ended;
    }
}

void TBundledService::Stop()
{
    if (Process_.state() == QProcess::NotRunning)
        return;
    Process_.terminate();
    if (!Process_.waitForFinished(StopLimitMs))
    {
        Process_.kill();
        Process_.waitForFinished(StopLimitMs);
    }
}

qint64 TBundledService::ProcessId() const
{
    return Process_.state() == QProcess::NotRunning ? 0 : Process_.processId();
}
