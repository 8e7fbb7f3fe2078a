#include "app/batch/stop_signals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

TStopSignals::TStopSignals(std::function<void()> onStop) : OnStop(std::move(onStop))
{
    Caught = 0;
    if (::pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    WriteEnd = Pipe[1];
    Notifier = std::make_unique<QSocketNotifier>(Pipe[0], QSocketNotifier::Read);
    QObject::connect(Notifier.get(), &QSocketNotifier::activated, Notifier.get(), [this] {
        char bytes[16];
        while (::read(Pipe[0], bytes, sizeof bytes) > 0)
        {}
        if (!Told)
        {
            Told = true;
            OnStop();
        }
    });
    struct sigaction action
    {};
    action.sa_handler = &TStopSignals::Handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &OldInt);
    ::sigaction(SIGTERM, &action, &OldTerm);
}

TStopSignals::~TStopSignals()
{
    ::sigaction(SIGINT, &OldInt, nullptr);
    ::sigaction(SIGTERM, &OldTerm, nullptr);
    Notifier.reset();
    WriteEnd = -1;
    ::close(Pipe[0]);
    ::close(Pipe[1]);
}

void TStopSignals::Handle(int signal)
{
    const int savedErrno = errno;
    if (Caught == 0)
        Caught = signal;
    const char byte = 1;
    if (WriteEnd >= 0)
    {
        [[maybe_unused]] const ssize_t ignored = ::write(WriteEnd, &byte, 1);
    }
    errno = savedErrno;
}
