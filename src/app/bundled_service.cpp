#include "app/bundled_service.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const QString ServiceName = QStringLiteral("orvanta-service");
constexpr int CheckLimitMs = 10000; // --check itself gives up after 2 s to connect and 5 s to read
constexpr int StopLimitMs = 5000;

} // namespace

QString TBundledService::FindProgram(const QString& programFolder)
{
    const QFileInfo beside(programFolder + QLatin1Char('/') + ServiceName);
    if (!programFolder.isEmpty() && beside.isFile() && beside.isExecutable())
        return beside.absoluteFilePath();
    return QStandardPaths::findExecutable(ServiceName);
}

TBundledService::TBundledService(QString program, int port) : Program_(std::move(program)), Port_(port)
{
}

TBundledService::~TBundledService()
{
    Stop();
}

bool TBundledService::Answers() const
{
    QProcess check;
    check.setProgram(Program_);
    check.setArguments({QStringLiteral("--check"), QStringLiteral("--port"), QString::number(Port_)});
    check.setStandardOutputFile(QProcess::nullDevice());
    check.setStandardErrorFile(QProcess::nullDevice());
    check.start();
    if (!check.waitForFinished(CheckLimitMs))
    {
        check.kill();
        check.waitForFinished(CheckLimitMs);
        return false;
    }
    return check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0;
}

TBundledService::TStart TBundledService::Start(const QString& logFile, std::chrono::milliseconds wait)
{
    const QDeadlineTimer deadline(wait);
    Process_.setProgram(Program_);
    Process_.setArguments({QStringLiteral("--port"), QString::number(Port_)});
    Process_.setProcessChannelMode(QProcess::MergedChannels);
    Process_.setStandardOutputFile(logFile, QIODevice::Truncate);
    const pid_t program = ::getpid();
    Process_.setChildProcessModifier([program] {
        // A killed program cannot stop its service; the kernel does it for us. Should the
        // program have died before this line, the service is not started at all.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != program)
            ::_exit(1);
    });
    Process_.start();
    if (!Process_.waitForStarted(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1000))))
        return TStart::Ended;
    for (;;)
    {
        if (Answers())
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
