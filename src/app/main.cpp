#include "app/application.h"
#include "app/command_line.h"
#include "app/main_form.h"
#include "app/startup.h"

#include <optional>

int main(int argc, char** argv)
{
    const TCommandLine commandLine = ParseCommandLine(ArgumentList(argc, argv));
    if (commandLine.Exit)
        return ReportEarlyExit(*commandLine.Exit);

    TOrvantaApplication application(argc, argv);
    std::optional<TStartup> startup;
    try
    {
        startup.emplace(commandLine, TStartupEnvironment::FromProcess(),
                        [](const QString& warning) { ShowStartupMessage(warning, false); });
    }
    catch (const TStartupError& error)
    {
        ShowStartupMessage(error.Text(), true);
        return 1;
    }
    TMainForm form;
    form.show();
    return application.exec();
}
