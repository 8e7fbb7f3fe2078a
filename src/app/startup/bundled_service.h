#pragma once

#include "app/startup/startup_status.h"

#include <QProcess>
#include <QString>

#include <chrono>
#include <optional>

// orvanta-service run by the program: started when no address was given and none of the
// user's own answers, stopped when the program ends, and never outliving it.

class TBundledService
{
public:
    //! orvanta-service in `programFolder`, else the one on PATH; empty when there is none.
    static QString FindProgram(const QString& programFolder);

    //! A port of 127.0.0.1 that nothing listens on now; 0 when none can be had.
    static int FreeLoopbackPort();
    //! True when something listens on 127.0.0.1:`port` (or holds it so that it cannot be bound).
    static bool PortTaken(int port);

    TBundledService(QString program, int port);
    ~TBundledService();
    TBundledService(const TBundledService&) = delete;
    TBundledService& operator=(const TBundledService&) = delete;

    //! The status of the orvanta-service on 127.0.0.1:`port` when the kernel says the socket
    //! that answered is this user's; none for anything else there (another program, another
    //! user's service).
    static std::optional<TServiceStatus> OwnStatusAt(int port);
    //! OwnStatusAt(Port()).
    std::optional<TServiceStatus> OwnStatus() const { return OwnStatusAt(Port_); }

    enum class TStart
    {
        Answering,
        Ended,    // it exited at once (the log says why)
        NoAnswer, // still running, but silent after the wait
    };
    //! Starts the service with its output in `logFile` and waits until it answers, at most `wait`.
    //! The log is made anew (an old one, or a link in its place, removed first), so nothing
    //! outside the folder is ever written through it; when it cannot be made, `logFailed` is
    //! set and the output is dropped. The service gets SIGTERM when the program dies, however it dies.
    TStart Start(const QString& logFile, std::chrono::milliseconds wait, bool& logFailed);

    //! Ends a service this object started: SIGTERM and a bounded wait, then SIGKILL.
    void Stop();

    //! The started service's process id; 0 when none runs.
    qint64 ProcessId() const;

    int Port() const { return Port_; }

private:
    QString Program_;
    int Port_;
    QProcess Process_;
};
