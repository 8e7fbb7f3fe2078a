#include "app/batch_run.h"

#include "app/application.h"
#include "app/main_form.h"
#include "data/cache_file.h"
#include "screener/screening.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QPushButton>

#include <unistd.h>

#include <cstdio>

namespace {

const QString Prefix = QStringLiteral("orvanta: ");

// Progress of the run: on a terminal one line rewritten in place; in a log (cron, a pipe)
// a plain line whenever another tenth of the list is done, so logs stay short.
class TProgressLines
{
public:
    explicit TProgressLines(const TBatchConsole& console) : Console(console) {}

    void Show(int index, int count, const QString& stock)
    {
        const QString line = QString::fromStdString(ProgressText(index, count)) + u' ' + stock;
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

// The form's hooks for the length of the run, restored on every way out.
class THooks
{
public:
    THooks()
        : Application(dynamic_cast<TOrvantaApplication*>(QCoreApplication::instance())),
          MessageBox(TMainForm::MessageBoxHook), ShiftKey(TMainForm::ShiftKeyDownHook)
    {
        if (Application)
            OnException = Application->OnException;
    }
    ~THooks()
    {
        TMainForm::MessageBoxHook = MessageBox;
        TMainForm::ShiftKeyDownHook = ShiftKey;
        if (Application)
            Application->OnException = OnException;
    }
    THooks(const THooks&) = delete;
    THooks& operator=(const THooks&) = delete;

    TOrvantaApplication* const Application;

private:
    decltype(TMainForm::MessageBoxHook) MessageBox;
    decltype(TMainForm::ShiftKeyDownHook) ShiftKey;
    decltype(TOrvantaApplication::OnException) OnException;
};

} // namespace

void QuietQtNotes()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fputs((message + u'\n').toLocal8Bit().constData(), stderr);
    });
}

TBatchConsole StandardErrorConsole()
{
    TBatchConsole console;
    console.Write = [](const QString& text) {
        std::fputs(text.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    };
    console.Terminal = ::isatty(STDERR_FILENO) == 1;
    return console;
}

int RunScreeningBatch(TMainForm& form, const TBatchOptions& options, const TBatchConsole& console)
{
    if (!QDir().mkpath(options.OutDir))
    {
        console.Write(Prefix + QStringLiteral("cannot create the folder \"") + options.OutDir + QStringLiteral("\"\n"));
        return UsageStatus;
    }

    TProgressLines progress(console);
    const THooks hooks;
    bool dataError = false;
    TMainForm::MessageBoxHook = [&](const TMessageBoxRequest& request) {
        // The data-error box says the same two lines for every error; the log gets the
        // error itself, once the run is over.
        if (request.Icon == QMessageBox::NoIcon)
        {
            dataError = true;
            return;
        }
        progress.EndLine();
        console.Write(Prefix + request.Text + u'\n');
    };
    TMainForm::ShiftKeyDownHook = [] { return false; };
    // What escapes an event handler outside the run's guard goes where the window sends it.
    if (hooks.Application)
        hooks.Application->OnException = [&form](const std::exception_ptr& error) { form.AppException(error); };
    const QMetaObject::Connection progressLines = QObject::connect(
        &form, &TMainForm::ScreeningProgress, &form,
        [&progress](int index, int count, const QString& stock) { progress.Show(index, count, stock); });

    // As a user would: the list view, the sector, the conditions, then 一覧検索.
    form.KabukaSearchWin->trigger();
    form.KabuSearchBox->setCurrentText(options.Sector);
    form.HitPutCheck->setChecked(options.HitsOnly);
    form.UnderKabuCheck->setChecked(options.Under100k);
    form.RSI30Check->setChecked(options.Rsi30);
    form.LastRun.reset();
    form.KabuSearchButton->click();
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
        report.Run.ErrorText = dataError ? form.LastErrorText : "the run did not start";
    }
    const TRunRecord& run = report.Run;
    int status = run.End == TRunEnd::DataError ? 2 : 0;
    if (status != 0)
        console.Write(Prefix + QString::fromStdString(EndedText(run)) + u'\n');
    try
    {
        WriteRunReport(report, options.OutDir);
    }
    catch (const std::exception& error)
    {
        console.Write(Prefix + QString::fromStdString(error.what()) + u'\n');
        status = 2;
    }
    console.Write(Prefix + QString::fromStdString(run.Sector) +
                  QStringLiteral(": %1 entries, %2 screened, %3 listed, %4 skipped; pages fetched %5, from the cache %6; "
                                 "report in %7\n")
                      .arg(run.Entries)
                      .arg(run.Screened)
                      .arg(report.Rows.size())
                      .arg(run.Skipped.size())
                      .arg(run.Pages.Fetched)
                      .arg(run.Pages.FromCache)
                      .arg(QDir(options.OutDir).absolutePath()));
    return status;
}
