#include "app/command_line.h"

#include <QCommandLineParser>

#include <cstdio>

namespace {

const QString ProgramName = QStringLiteral("orvanta");

} // namespace

TCommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Quote board, candle chart, buy signals and sector screening for Japanese listed "
                       "stocks.\nWorks in the current folder when it holds dat/ or KabuList.dat, else in "
                       "$XDG_DATA_HOME/orvanta."));
    // Our own help and version options: Qt's adds --help-all, whose Qt options this parser,
    // running before the application object, would not accept.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show the options and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption workDir(QStringLiteral("workdir"),
                                     QStringLiteral("Work in <dir>: its KabuList.dat and its dat/ cache. A folder "
                                                    "holding neither is prepared with both."),
                                     QStringLiteral("dir"));
    const QCommandLineOption service(QStringLiteral("service"),
                                     QStringLiteral("The finance service's address, http://host[:port]; the "
                                                    "program then never starts or stops a service itself. "
                                                    "Default: $ORVANTA_SERVICE_URL, else http://127.0.0.1:18650."),
                                     QStringLiteral("url"));
    parser.addOptions({help, version, workDir, service});

    TCommandLine commandLine;
    if (!parser.parse(arguments))
    {
        commandLine.Exit = {ProgramName + QStringLiteral(": ") + parser.errorText() +
                                QStringLiteral("\nTry 'orvanta --help'.\n"),
                            2};
        return commandLine;
    }
    if (!parser.positionalArguments().isEmpty())
    {
        commandLine.Exit = {ProgramName + QStringLiteral(": unexpected argument \"") +
                                parser.positionalArguments().constFirst() +
                                QStringLiteral("\"\nTry 'orvanta --help'.\n"),
                            2};
        return commandLine;
    }
    if (parser.isSet(help))
    {
        // The parser takes the program's name from an application object, which may not exist yet.
        const QString text = parser.helpText();
        commandLine.Exit = {QStringLiteral("Usage: orvanta [options]") + text.mid(text.indexOf(QLatin1Char('\n'))), 0};
        return commandLine;
    }
    if (parser.isSet(version))
    {
        commandLine.Exit = {ProgramName + QLatin1Char(' ') + ProgramVersion() + QLatin1Char('\n'), 0};
        return commandLine;
    }
    if (parser.isSet(workDir))
        commandLine.WorkDir = parser.value(workDir);
    if (parser.isSet(service))
        commandLine.ServiceUrl = parser.value(service);
    return commandLine;
}

QStringList ArgumentList(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

int ReportEarlyExit(const TCommandLine::TEarlyExit& exit)
{
    std::fputs(exit.Text.toLocal8Bit().constData(), exit.Status == 0 ? stdout : stderr);
    return exit.Status;
}

QString ProgramVersion()
{
    return QStringLiteral(ORVANTA_VERSION);
}
