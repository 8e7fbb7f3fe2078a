#include "app/application.h"
#include "app/batch_run.h"
#include "app/command_line.h"
#include "app/main_form.h"
#include "app/startup.h"

#include <QDir>

#include <optional>

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

    TOrvantaApplication application(argc, argv);
    const TBatchConsole console = StandardErrorConsole();
    // Nobody is there to close a box after an unattended run: its messages go to stderr
    // only, one line each.
    const auto tell = [&](QString text, bool fatal) {
        if (batch)
            console.Write(QStringLiteral("orvanta: ") + text.replace(u'\n', u' ') + u'\n');
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
