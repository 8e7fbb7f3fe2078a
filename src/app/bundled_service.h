#pragma once

#include <QProcess>
#include <QString>

#include <chrono>

// orvanta-service run by the program: started when no address was given and none answers,
// stopped when the program ends, and never outliving it.

class TBundledService
{
public:
    //! orvanta-service in `programFolder`, else the one on PATH; empty when there is none.
    static QString FindProgram(const QString& programFolder);

    TBundledService(QString program, int port);
    ~TBundledService();
    TBundledService(const TBundledService&) = delete;
    TBundledService& operator=(const TBundledService&) = delete;

    //! True when an orvanta-service answers on the port (asked through `program --check`).
    bool Answers() const;

    enum class TStart
    {
        Answering,
        Ended,    // it exited at once (the log says why)
        NoAnswer, // still running, but silent after the wait
    };
    //! Starts the service with its output in `logFile` (rewritten) and waits until it answers,
    //! at most `wait`. The service gets SIGTERM when the program dies, however it dies.
    TStart Start(const QString& logFile, std::chrono::milliseconds wait);

    //! Ends a service this object started: SIGTERM and a bounded wait, then SIGKILL.
    void Stop();

    //! The started service's process id; 0 when none runs.
    qint64 ProcessId() const;

private:
    QString Program_;
    int Port_;
    QProcess Process_;
};
