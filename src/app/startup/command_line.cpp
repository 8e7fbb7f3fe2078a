#include "app/startup/command_line.h"

#include "app/startup/console_text.h"

#include "common/service_contract.h"
#include "data/fetch_ahead.h"
#include "screener/kabu_list.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <cstdio>

namespace {

const QString ProgramName = QStringLiteral("orvanta");

// One line, as cron logs and scripts want it.
TCommandLine::TEarlyExit Mistake(const QString& text)
{
    return {ProgramName + QStringLiteral(": ") + PrintableText(text) + QStringLiteral("（orvanta --help を参照）\n"),
            UsageStatus};
}

QString SectorList()
{
    QStringList sectors;
    for (const std::string_view item : SectorSelectorItems)
        sectors.append(QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size())));
    return sectors.join(QStringLiteral(", "));
}

// The selector's item that `text` names, compared after compatibility normalisation, so the
// ordinary "・" and full-width katakana a person types find the selector's half-width forms.
std::optional<QString> SectorItem(const QString& text)
{
    const QString typed = text.normalized(QString::NormalizationForm_KC);
    for (const std::string_view item : SectorSelectorItems)
    {
        const QString name = QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size()));
        if (name.normalized(QString::NormalizationForm_KC) == typed)
            return name;
    }
    return std::nullopt;
}

// Qt's parser words its errors in English; the program's messages are Japanese. An error
// of a kind not known here keeps Qt's words.
QString ParserErrorText(const QString& text)
{
    static const struct
    {
        const char* Pattern;
        const char* Words;
    } errors[] = {
        {"^Unknown options?:? '?(.*?)'?\\.$", "不明なオプション \\1"},
        {"^Missing value after '(.*)'\\.$", "\\1 の値がありません"},
        {"^Unexpected value after '(.*)'\\.$", "\\1 は値を取りません"},
    };
    for (const auto& error : errors)
    {
        const QRegularExpression pattern(QString::fromUtf8(error.Pattern));
        const QRegularExpressionMatch match = pattern.match(text);
        if (match.hasMatch())
            return QString::fromUtf8(error.Words).replace(QStringLiteral("\\1"), match.captured(1));
    }
    return QStringLiteral("コマンドラインの誤り: ") + text;
}

} // namespace

TCommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "日本の上場株の株価ボード、ローソク足チャート、買いシグナルと業種別の一覧検索。\n"
            "今のフォルダに dat/ か KabuList.dat があればそこで、なければ $XDG_DATA_HOME/orvanta で動きます。\n"
            "--screen を付けると、ウィンドウを開かずに（ディスプレイ不要）業種を一覧検索し、--out の\n"
            "フォルダに result.csv、summary.json、report.html と charts/ を書きます。経過は標準エラーへ。\n"
            "終了コード: 0 検索が普通に終わった、2 データエラーで止まった（それまでの行は書きます）・\n"
            "どのページも読めなかった・レポートを書けなかった、64 コマンドラインの誤りかレポートの\n"
            "フォルダに書けない、130/143 SIGINT/SIGTERM で中断した（それまでの行は書きます）。\n"
            "業種: ") +
        SectorList());
    // Our own help and version options: Qt's adds --help-all, whose Qt options this parser,
    // running before the application object, would not accept.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("オプションの説明を表示して終わります。"));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("バージョンを表示して終わります。"));
    const QCommandLineOption workDir(QStringLiteral("workdir"),
                                     QStringLiteral("<dir> の KabuList.dat と dat/ キャッシュで動きます。どちらも"
                                                    "ないフォルダには両方を用意します。"),
                                     QStringLiteral("dir"));
    const QCommandLineOption service(QStringLiteral("service"),
                                     QStringLiteral("株価サービスのアドレス http://host[:port]。このときサービスを"
                                                    "自分で起動・停止しません。既定: $ORVANTA_SERVICE_URL、なければ ") +
                                         QString::fromStdString(LoopbackServiceUrl(DefaultServicePort)) +
                                         QStringLiteral("。"),
                                     QStringLiteral("url"));
    const QCommandLineOption screen(QStringLiteral("screen"),
                                    QStringLiteral("<sector> をウィンドウなしで一覧検索します。業種の選択肢の名前"
                                                   "（全角・半角の違いは問いません。全部は 全て）。"),
                                    QStringLiteral("sector"));
    const QCommandLineOption hitsOnly(QStringLiteral("hits-only"),
                                      QStringLiteral("最新週に買いシグナルのある銘柄だけ（条件一致のみ表示）。"));
    const QCommandLineOption under100k(
        QStringLiteral("under-100k"),
        QStringLiteral("売買単位の代金が 10 万円以内の銘柄だけ（10万円以内の低位株のみ）。"));
    const QCommandLineOption rsi30(
        QStringLiteral("rsi30"), QStringLiteral("2 本の RSI がともに 30% 以下になった銘柄も載せます（RSI 30%以下）。"));
    const QCommandLineOption out(QStringLiteral("out"),
                                 QStringLiteral("--screen のレポートを <dir> に書きます（なければ作ります）。"),
                                 QStringLiteral("dir"));
    const QCommandLineOption connections(
        QStringLiteral("connections"),
        QStringLiteral("一覧検索で先に取りに行くページの同時数、0～8（0: 先取りしない）。既定: 4。"),
        QStringLiteral("n"));
    parser.addOptions({help, version, workDir, service, connections, screen, hitsOnly, under100k, rsi30, out});

    TCommandLine commandLine;
    if (!parser.parse(arguments))
    {
        commandLine.Exit = Mistake(ParserErrorText(parser.errorText()));
        return commandLine;
    }
    if (!parser.positionalArguments().isEmpty())
    {
        commandLine.Exit = Mistake(QStringLiteral("余分な引数 \"") + parser.positionalArguments().constFirst() + u'"');
        return commandLine;
    }
    if (parser.isSet(help))
    {
        // The parser takes the program's name from an application object, which may not exist yet.
        const QString text = parser.helpText();
        commandLine.Exit = {QStringLiteral("使い方: orvanta [options]\n"
                                           "        orvanta [options] --screen SECTOR [--hits-only] [--under-100k] "
                                           "[--rsi30] --out DIR") +
                                text.mid(text.indexOf(QLatin1Char('\n')))
                                    .replace(QStringLiteral("\nOptions:\n"), QStringLiteral("\nオプション:\n")),
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
            commandLine.Exit = Mistake(QStringLiteral("--connections は 0～%1 です").arg(MaxFetchAheadConnections));
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
                                           QStringLiteral(" は --screen のオプションです"));
                return commandLine;
            }
        return commandLine;
    }
    TBatchOptions batch;
    const std::optional<QString> sector = SectorItem(parser.value(screen));
    if (!sector)
    {
        commandLine.Exit =
            Mistake(QStringLiteral("業種 \"") + parser.value(screen) + QStringLiteral("\" はありません"));
        return commandLine;
    }
    batch.Sector = *sector;
    batch.OutDir = parser.value(out);
    if (batch.OutDir.isEmpty())
    {
        commandLine.Exit = Mistake(QStringLiteral("--screen には --out DIR が要ります"));
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
