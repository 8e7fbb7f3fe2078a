#include "app/batch/batch_run.h"

#include "app/startup/console_text.h"
#include "app/window/exception_handler.h"
#include "common/temp_file.h"
#include "data/cache_file.h"
#include "screener/screening.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <system_error>

namespace {

// Progress of the run: on a terminal one line rewritten in place; in a log (cron, a pipe)
// a plain line whenever another tenth of the list is done, so logs stay short.
class TProgressLines
{
public:
    explicit TProgressLines(const TBatchConsole& console) : Console(console) {}

    void Show(int index, int count, const QString& stock)
    {
        const QString line = QString::fromStdString(ProgressText(index, count)) + u' ' + PrintableText(stock);
        if (Console.Terminal)
        {
            // Back to the line's start, then erase what a longer line left.
            Console.Write(QStringLiteral("\r") + line + QStringLiteral("\x1b[K"));
            InPlace = true;
            return;
        }
        const int tenth = static_cast<int>(static_cast<std::int64_t>(index) * 10 / count);
        if (tenth > LastTenth)
        {
            LastTenth = tenth;
            Console.Write(line + u'\n');
        }
    }

    //! Ends the line rewritten in place, so the next message starts on a line of its own.
    void EndLine()
    {
        if (InPlace)
            Console.Write(QStringLiteral("\n"));
        InPlace = false;
    }

private:
    const TBatchConsole& Console;
    int LastTenth = 0;
    bool InPlace = false;
};

// SIGINT and SIGTERM end a run as closing the window does. The handler only notes the signal
// and writes a byte into a pipe; the run's event points read it and ask the form to close, so
// the transfer under way is given up, its temporary file removed, and the rows so far reported.
class TStopSignals
{
public:
    explicit TStopSignals(std::function<void()> onStop) : OnStop(std::move(onStop))
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
    ~TStopSignals()
    {
        ::sigaction(SIGINT, &OldInt, nullptr);
        ::sigaction(SIGTERM, &OldTerm, nullptr);
        Notifier.reset();
        WriteEnd = -1;
        ::close(Pipe[0]);
        ::close(Pipe[1]);
    }
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    //! The first signal caught, 0 for none.
    static int Signal() { return Caught; }

private:
    static void Handle(int signal)
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

} // namespace

void QuietQtNotes()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fputs((PrintableText(message) + u'\n').toLocal8Bit().constData(), stderr);
    });
}

TBatchRun::TBatchRun(TBatchOptions options, TBatchConsole console)
    : Options(std::move(options)), Console(std::move(console)), Dialogs(Console), Form(Dialogs)
{}

int TBatchRun::Run()
{
    const TBatchOptions& options = Options;
    const TBatchConsole& console = Console;
    TMainForm& form = Form;
    if (!QDir().mkpath(options.OutDir))
    {
        console.Write(BatchLogLine(QStringLiteral("レポートのフォルダ \"%1\" を作れません").arg(options.OutDir)));
        return UsageStatus;
    }
    // A folder that cannot take the report is found out now, not after a long run.
    try
    {
        const TTempFile probe{std::filesystem::path(
            QFile::encodeName(QDir(options.OutDir).filePath(QStringLiteral(".orvanta-probe"))).toStdString())};
    }
    catch (const std::system_error& error)
    {
        console.Write(BatchLogLine(QStringLiteral("レポートのフォルダ \"%1\" に書き込めません: %2")
                                       .arg(options.OutDir, QString::fromLocal8Bit(error.code().message().c_str()))));
        return UsageStatus;
    }

    TProgressLines progress(console);
    Dialogs.BeforeLine = [&progress] { progress.EndLine(); };
    // What escapes an event handler outside the run's guard goes where the window sends it.
    const TExceptionHandler previousHandler = UnhandledExceptionHandler();
    SetUnhandledExceptionHandler([&form](const std::exception_ptr& error) { form.AppException(error); });
    struct TRestoreHandler
    {
        const TExceptionHandler& Previous;
        TConsoleDialogs& Dialogs;
        ~TRestoreHandler()
        {
            SetUnhandledExceptionHandler(Previous);
            Dialogs.BeforeLine = nullptr;
        }
    } restoreHandler{previousHandler, Dialogs};
    const QMetaObject::Connection progressLines = QObject::connect(
        &form, &TMainForm::ScreeningProgress, &form,
        [&progress](int index, int count, const QString& stock) { progress.Show(index, count, stock); });
    const TStopSignals stopSignals([&] {
        progress.EndLine();
        console.Write(BatchLogLine(QStringLiteral("中断の合図を受けました。ここまでの結果を書いて終わります。")));
        QCloseEvent close;
        QCoreApplication::sendEvent(&form, &close);
    });

    // As a user would: the list view, the sector, the conditions, then 一覧検索.
    form.LastRun.reset();
    if (TStopSignals::Signal() == 0)
    {
        form.KabukaSearchWin->trigger();
        form.KabuSearchBox->setCurrentText(options.Sector);
        form.HitPutCheck->setChecked(options.HitsOnly);
        form.UnderKabuCheck->setChecked(options.Under100k);
        form.RSI30Check->setChecked(options.Rsi30);
        form.KabuSearchButton->click();
    }
    QObject::disconnect(progressLines);
    progress.EndLine();

    TRunReport report = form.LastRunReport();
    if (!form.LastRun)
    {
        // The run ended before it began (the list could not be read): a report of nothing
        // that says why.
        report.Run.Sector = options.Sector.toStdString();
        report.Run.Date = DateText(TodayLocal());
        report.Run.HitsOnly = options.HitsOnly;
        report.Run.Under100k = options.Under100k;
        report.Run.Rsi30 = options.Rsi30;
        report.Run.End = TRunEnd::DataError;
        report.Run.ErrorText = Dialogs.DataErrorShown() ? form.LastErrorText : "検索が始まりませんでした";
        if (!Dialogs.DataErrorShown() && TStopSignals::Signal() != 0)
            report.Run.End = TRunEnd::Interrupted; // before the first entry
    }
    TRunRecord& run = report.Run;
    // A signal ends the run whenever it came; a data error keeps its own words.
    const int signal = TStopSignals::Signal();
    if (signal != 0 && run.End != TRunEnd::DataError)
        run.End = TRunEnd::Interrupted;
    int status = run.End == TRunEnd::DataError || run.End == TRunEnd::NoPageRead ? 2 : 0;
    if (status != 0 || signal != 0)
        console.Write(BatchLogLine(QString::fromStdString(EndedWords(run))));
    try
    {
        WriteRunReport(report, options.OutDir);
    }
    catch (const std::exception& error)
    {
        console.Write(
            BatchLogLine(QStringLiteral("レポートを書けませんでした: ") + QString::fromStdString(error.what())));
        status = 2;
    }
    console.Write(
        BatchLogLine(QString::fromStdString(run.Sector) +
                     QStringLiteral(": 一覧 %1 銘柄、株価を読んだ %2、該当 %3、読めなかった %4。ページ取得 %5、"
                                    "当日のキャッシュ %6。レポート: %7")
                         .arg(run.Entries)
                         .arg(run.Screened)
                         .arg(report.Rows.size())
                         .arg(run.Skipped.size())
                         .arg(run.Pages.Fetched)
                         .arg(run.Pages.FromCache)
                         .arg(QDir(options.OutDir).absolutePath())));
    // The status of a signal wins over any other, as a shell expects of a killed command.
    const int latest = TStopSignals::Signal();
    return latest != 0 ? 128 + latest : status;
}
