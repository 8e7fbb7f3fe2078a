#pragma once

#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

// SIGINT and SIGTERM end a run as closing the window does. The handler only notes the signal
// and writes a byte into a pipe; the run's event points read it and ask the form to close, so
// the transfer under way is given up, its temporary file removed, and the rows so far reported.
class TStopSignals
{
public:
    //! Catches both signals until this object goes; `onStop` runs once, from the event loop,
    //! after the first. Throws std::system_error when the pipe cannot be made.
    explicit TStopSignals(std::function<void()> onStop);
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    //! The first signal caught, 0 for none.
    static int Signal() { return Caught; }

private:
    static void Handle(int signal);

    static inline volatile std::sig_atomic_t Caught = 0;
    static inline volatile int WriteEnd = -1;
    std::function<void()> OnStop;
    int Pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> Notifier;
    struct sigaction OldInt
    {};
    struct sigaction OldTerm
    {};
    bool Told = false;
};
