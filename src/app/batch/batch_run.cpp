#include "app/batch/batch_run.h"

#include "app/batch/progress_lines.h"
#include "app/batch/stop_signals.h"
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
#include <cstdio>
#include <system_error>

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
    // What escapes an event handler outside the run's guard goes where the window sends it;
    // the form takes its handler with it when it goes.
    SetUnhandledExceptionHandler([&form](const std::exception_ptr& error) { form.AppException(error); }, &form);
    struct TForgetProgress
    {
        TConsoleDialogs& Dialogs;
        ~TForgetProgress() { Dialogs.BeforeLine = nullptr; }
    } forgetProgress{Dialogs};
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
