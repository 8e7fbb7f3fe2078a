#include "app/application.h"
#include "app/batch_run.h"
#include "app/command_line.h"
#include "app/console_text.h"
#include "app/main_form.h"
#include "app/startup.h"

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

void NoDisplayMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtFatalMsg || !MakingApplication)
    {
        if (MakingApplication)
            HeldNotes.append(message);
        else
            std::fputs((message + u'\n').toLocal8Bit().constData(), stderr);
        return;
    }
    std::fputs("orvanta: デスクトップのセッション（ディスプレイ）が必要です。--screen "
               "による一覧検索はディスプレイなしで動きます（orvanta --help）。\n",
               stderr);
    std::fflush(stderr);
    std::_Exit(1);
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
            std::fputs((note + u'\n').toLocal8Bit().constData(), stderr);
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
        startup.emplace(commandLine, TStartupEnvironment::FromProcess(), [&](const QString& warning) { tell(warning, false); });
    }
    catch (const TStartupError& error)
    {
        tell(error.Text(), true);
        return batch ? UsageStatus : 1;
    }
    TMainForm form;
    if (batch)
        return RunScreeningBatch(form, *batch, console);
    form.show();
    return application.exec();
}
