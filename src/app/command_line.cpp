#include "app/command_line.h"

#include "data/fetch_ahead.h"
#include "screener/kabu_list.h"

#include <QCommandLineParser>

#include <cstdio>

namespace {

const QString ProgramName = QStringLiteral("orvanta");

// One line, as cron logs and scripts want it.
TCommandLine::TEarlyExit Mistake(const QString& text)
{
    return {ProgramName + QStringLiteral(": ") + text + QStringLiteral(" (see orvanta --help)\n"), UsageStatus};
}

QString SectorList()
{
    QStringList sectors;
    for (const std::string_view item : SectorSelectorItems)
        sectors.append(QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size())));
    return sectors.join(QStringLiteral(", "));
}

bool IsSectorItem(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    for (const std::string_view item : SectorSelectorItems)
        if (std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())) == item)
            return true;
    return false;
}

} // namespace

TCommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Quote board, candle chart, buy signals and sector screening for Japanese listed stocks.\n"
                       "Works in the current folder when it holds dat/ or KabuList.dat, else in\n"
                       "$XDG_DATA_HOME/orvanta.\n"
                       "With --screen, screens a sector there without a window (no display needed) and writes\n"
                       "result.csv, summary.json and report.html with charts/ into the --out folder; progress\n"
                       "goes to stderr. Exit status: 0 the run ended normally, 2 a data error ended it (the\n"
                       "rows made so far are written), 64 a bad command line.\n"
                       "Sectors: ") +
        SectorList());
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
    const QCommandLineOption screen(QStringLiteral("screen"),
                                    QStringLiteral("Screen <sector> unattended, one of the sector selector's texts "
                                                   "exactly as shown (全て for all)."),
                                    QStringLiteral("sector"));
    const QCommandLineOption hitsOnly(QStringLiteral("hits-only"),
                                      QStringLiteral("List only stocks with a buy signal on the newest week "
                                                     "(条件一致のみ表示)."));
    const QCommandLineOption under100k(QStringLiteral("under-100k"),
                                       QStringLiteral("List only stocks whose trading unit costs at most "
                                                      "100,000 yen (10万円以内の低位株のみ)."));
    const QCommandLineOption rsi30(QStringLiteral("rsi30"),
                                   QStringLiteral("Also list stocks whose two RSI lines stood at 30 % or less "
                                                  "(RSI 30%以下)."));
    const QCommandLineOption out(QStringLiteral("out"),
                                 QStringLiteral("Write the report of --screen into <dir>, created if missing."),
                                 QStringLiteral("dir"));
    const QCommandLineOption connections(
        QStringLiteral("connections"),
        QStringLiteral("Pages a screening run fetches ahead at once, 0 to 8 (0: none). Default: 4."),
        QStringLiteral("n"));
    parser.addOptions({help, version, workDir, service, connections, screen, hitsOnly, under100k, rsi30, out});

    TCommandLine commandLine;
    if (!parser.parse(arguments))
    {
        commandLine.Exit = Mistake(parser.errorText());
        return commandLine;
    }
    if (!parser.positionalArguments().isEmpty())
    {
        commandLine.Exit =
            Mistake(QStringLiteral("unexpected argument \"") + parser.positionalArguments().constFirst() + u'"');
        return commandLine;
    }
    if (parser.isSet(help))
    {
        // The parser takes the program's name from an application object, which may not exist yet.
        const QString text = parser.helpText();
        commandLine.Exit = {QStringLiteral("Usage: orvanta [options]\n"
                                           "       orvanta [options] --screen SECTOR [--hits-only] [--under-100k] "
                                           "[--rsi30] --out DIR") +
                                text.mid(text.indexOf(QLatin1Char('\n'))),
                            0};
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
    if (parser.isSet(connections))
    {
        bool number = false;
        const int value = parser.value(connections).toInt(&number);
        if (!number || value < 0 || value > MaxFetchAheadConnections)
        {
            commandLine.Exit = Mistake(QStringLiteral("--connections takes 0 to %1").arg(MaxFetchAheadConnections));
            return commandLine;
        }
        commandLine.Connections = value;
    }
    if (!parser.isSet(screen))
    {
        for (const QCommandLineOption* batchOnly : {&hitsOnly, &under100k, &rsi30, &out})
            if (parser.isSet(*batchOnly))
            {
                commandLine.Exit = Mistake(QStringLiteral("--") + batchOnly->names().constFirst() +
                                           QStringLiteral(" is an option of --screen"));
                return commandLine;
            }
        return commandLine;
    }
    TBatchOptions batch;
    batch.Sector = parser.value(screen);
    if (!IsSectorItem(batch.Sector))
    {
        commandLine.Exit = Mistake(QStringLiteral("unknown sector \"") + batch.Sector + u'"');
        return commandLine;
    }
    batch.OutDir = parser.value(out);
    if (batch.OutDir.isEmpty())
    {
        commandLine.Exit = Mistake(QStringLiteral("--screen needs --out DIR"));
        return commandLine;
    }
    batch.HitsOnly = parser.isSet(hitsOnly);
    batch.Under100k = parser.isSet(under100k);
    batch.Rsi30 = parser.isSet(rsi30);
    commandLine.Batch = batch;
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
