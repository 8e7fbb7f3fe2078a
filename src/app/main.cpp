#include "app/application.h"
#include "app/startup/bundled_service.h"
#include "app/batch/batch_run.h"
#include "app/data_update/data_update.h"
#include "app/startup/command_line.h"
#include "app/startup/console_text.h"
#include "app/startup/startup.h"
#include "app/startup/startup_status.h"
#include "app/window/main_form.h"
#include "data/web_page.h"

#include <QDir>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

// Qt ends the process with abort() when no window platform can start (no display); a user
// who typed `orvanta` over ssh should read why instead, and a script get status 1.
// Qt's notes on the way there (which plugins it tried) are held until the application exists.
bool MakingApplication = false;
QStringList HeldNotes;

// Qt's own note, line by line through the escaping: it may quote the environment (a display
// name, a plugin path) and must not steer the terminal.
void PrintNote(const QString& note)
{
    for (const QString& line : note.split(u'\n'))
        std::fputs((PrintableText(line) + u'\n').toLocal8Bit().constData(), stderr);
}

void NoDisplayMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtFatalMsg || !MakingApplication)
    {
        if (MakingApplication)
            HeldNotes.append(message);
        else
            PrintNote(message);
        return;
    }
    std::fputs("orvanta: デスクトップのセッション（ディスプレイ）が必要です。--screen "
               "による一覧検索はディスプレイなしで動きます（orvanta --help）。\n",
               stderr);
    // Qt's own reason (a display that refused, a plugin missing) on a line of its own: what
    // it noted on the way, then its last word, each line escaped as outside text.
    QStringList reason;
    for (const QString& note : std::as_const(HeldNotes) + QStringList{message})
        for (const QString& line : note.split(u'\n', Qt::SkipEmptyParts))
            reason.append(line.trimmed());
    std::fputs((QStringLiteral("orvanta: Qt: ") + PrintableText(reason.join(QStringLiteral(" / "))) + u'\n')
                   .toLocal8Bit()
                   .constData(),
               stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

// "株価データを更新…" fetches into the data folder of the user's own service; the data of any
// other service is that service's to update.
void WireDataUpdate(TMainForm& form)
{
    const TServiceStatus& status = CurrentServiceStatus();
    const QString program = TBundledService::FindProgram(TStartupEnvironment::FromProcess().ProgramFolder);
    if (status.Known && status.Own && !status.DataFolder.empty() && !program.isEmpty())
    {
        TDataUpdateTarget target;
        target.ServiceProgram = program;
        target.DataFolder = QString::fromStdString(status.DataFolder.string());
        target.ConfigFolder = ConfigFolder();
        const char* key = std::getenv(ApiKeyVariable);
        target.KeyInEnvironment = key != nullptr && key[0] != '\0';
        form.SetDataUpdateTarget(target, {});
    }
    else
    {
        form.SetDataUpdateTarget(
            std::nullopt, QStringLiteral("株価データは %1 のサービスのものです。そのサービスの側で更新してください。")
                              .arg(QString::fromStdString(FinanceServiceAddress())));
    }
}

} // namespace

int main(int argc, char** argv)
{
    const TCommandLine commandLine = ParseCommandLine(ArgumentList(argc, argv));
    if (commandLine.Exit)
        return ReportEarlyExit(*commandLine.Exit);
    std::optional<TBatchOptions> batch = commandLine.Batch;
    if (batch)
    {
        // An unattended run needs no display: over ssh and from cron there is none.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QuietQtNotes();
        // --out names a folder where the command was given, not in the working folder the
        // start-up enters.
        batch->OutDir = QDir::current().absoluteFilePath(batch->OutDir);
    }
    else
    {
        qInstallMessageHandler(NoDisplayMessage);
    }

    MakingApplication = true;
    TOrvantaApplication application(argc, argv);
    MakingApplication = false;
    if (!batch)
    {
        qInstallMessageHandler(nullptr);
        for (const QString& note : std::as_const(HeldNotes))
            PrintNote(note);
    }
    const TBatchConsole console = StandardErrorConsole();
    // Nobody is there to close a box after an unattended run: its messages go to stderr
    // only, one line each.
    const auto tell = [&](QString text, bool fatal) {
        if (batch)
            console.Write(QStringLiteral("orvanta: ") + PrintableText(text.replace(u'\n', u' ')) + u'\n');
        else
            ShowStartupMessage(text, fatal);
    };
    std::optional<TStartup> startup;
    try
    {
        startup.emplace(commandLine, TStartupEnvironment::FromProcess(),
                        [&](const QString& warning) { tell(warning, false); });
    }
    catch (const TStartupError& error)
    {
        tell(error.Text(), true);
        return batch ? UsageStatus : 1;
    }
    if (batch)
    {
        TBatchRun run(*batch, console);
        return run.Run();
    }
    TMainForm form;
    WireDataUpdate(form);
    form.show();
    return application.exec();
}
