#include "report/report_files.h"

#include "common/temp_file.h"
#include "report/palette_png.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace {

// Qt's PNG quality picks the zlib level; 50 is level 4, which costs half the default's time.
constexpr int PngQuality = 50;

QString Text(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

QJsonValue DecimalValue(const std::optional<TDecimal>& value)
{
    if (!value)
        return QJsonValue(QJsonValue::Null);
    return static_cast<double>(value->Scaled) / static_cast<double>(Pow10(value->Scale));
}

// Outside text (stock names, error texts) as HTML text or attribute value: never markup.
QString Escaped(const QString& text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
}

QString Escaped(const std::string& utf8)
{
    return Escaped(Text(utf8));
}

// The list's alignment: texts left, amounts, rates and ratios right so their digits line up,
// marks and dates centred.
QString CellClass(std::size_t column)
{
    switch (column)
    {
    case 0: // 銘柄
    case 1: // 市場
        return QStringLiteral("l");
    case 9:  // 推奨
    case 11: // 購入日付
    case 13: // 売却日付
    case 15: // 評価
        return QStringLiteral("c");
    default:
        return QStringLiteral("r");
    }
}

// The list of chart files the program wrote into charts/, so a later report removes those
// and nothing else that happens to be named like a chart.
const QString ChartManifest = QStringLiteral(".orvanta-charts");
constexpr qint64 MaxManifestBytes = 1 << 20;

bool IsChartName(const QString& name)
{
    static const QRegularExpression ours(QStringLiteral("^[0-9]{4,}\\.png$"));
    return ours.match(name).hasMatch();
}

// The names an earlier report listed, read without following a link; a manifest that is not
// a plain file of ours names nothing.
QStringList ManifestNames(const QString& charts)
{
    const QByteArray path = QFile::encodeName(charts + u'/' + ChartManifest);
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    QStringList names;
    struct stat status
    {
    };
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
        status.st_size <= MaxManifestBytes)
    {
        QFile file;
        if (file.open(fd, QIODevice::ReadOnly))
            for (const QByteArray& line : file.read(MaxManifestBytes).split('\n'))
                if (IsChartName(QString::fromLatin1(line)))
                    names.append(QString::fromLatin1(line));
    }
    ::close(fd);
    return names;
}

// charts/ of the report folder, made when missing; a link or a folder of someone else is
// refused, as pictures written there would land wherever it points.
void PrepareChartFolder(const QString& charts)
{
    const QByteArray path = QFile::encodeName(charts);
    struct stat status
    {
    };
    if (::lstat(path.constData(), &status) != 0)
    {
        if (errno != ENOENT || ::mkdir(path.constData(), 0777) != 0)
            throw TReportError(charts.toStdString() + " を作れません: " + std::strerror(errno));
        return;
    }
    if (S_ISLNK(status.st_mode))
        throw TReportError(charts.toStdString() + " はシンボリックリンクのため使いません");
    if (!S_ISDIR(status.st_mode))
        throw TReportError(charts.toStdString() + " はフォルダではないため使いません");
    if (status.st_uid != ::geteuid())
        throw TReportError(charts.toStdString() + " はほかの利用者のものなので使いません");
}

// The picture's size from its header, so the page lays out before the pictures load.
QSize PngSize(const QByteArray& png)
{
    QBuffer buffer;
    buffer.setData(png);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer, "png").size();
}

QString RowAnchor(std::size_t row)
{
    return QStringLiteral("chart-%1").arg(row + 1, 4, 10, QLatin1Char('0'));
}

const char* const PageStyle = R"(
body { font-family: "IPAPGothic", "IPA Pゴシック", "Noto Sans CJK JP", sans-serif; font-size: 10pt;
       color: #000; background: #fff; margin: 1.5em; }
h1 { font-size: 15pt; margin: 0 0 .4em; }
h2 { font-size: 12pt; margin: 1.2em 0 .4em; border-bottom: 1px solid #888; }
p.summary { white-space: pre-line; line-height: 1.5; }
table { border-collapse: collapse; }
th, td { border: 1px solid #999; padding: 1px 4px; white-space: nowrap; }
th { background: #eee; font-weight: normal; }
table.result { font-size: 8pt; }
table.result th { white-space: normal; }
div.wide { max-width: 100%; overflow-x: auto; }
p.note { font-weight: bold; }
td.l { text-align: left; } td.c { text-align: center; } td.r { text-align: right; }
td.n { text-align: right; color: #555; }
thead { display: table-header-group; }
tr { break-inside: avoid; page-break-inside: avoid; }
div.charts { display: flex; flex-wrap: wrap; gap: 8px; }
figure { margin: 0; break-inside: avoid; page-break-inside: avoid; }
figcaption { font-size: 9pt; margin: 2px 0; }
figure img { display: block; max-width: 100%; height: auto; }
@page { size: A4 landscape; margin: 10mm; }
@media print {
  body { margin: 0; font-size: 9pt; }
  table.result { font-size: 6.5pt; }
  div.wide { overflow: visible; }
  figure { width: 49%; }
  h2 { break-after: avoid; page-break-after: avoid; }
}
)";

} // namespace

QByteArray ResultCsv(const TResultRow& captions, const std::vector<TResultRow>& rows)
{
    QByteArray csv("\xef\xbb\xbf");
    const auto addLine = [&csv](const TResultRow& cells) {
        for (std::size_t column = 0; column < cells.size(); ++column)
        {
            if (column > 0)
                csv += ',';
            std::string cell = cells[column];
            // A spreadsheet runs a cell starting so as a formula; none of the program's own
            // figures does.
            if (!cell.empty() && std::string_view("=+@\t\r").find(cell.front()) != std::string_view::npos)
                cell.insert(cell.begin(), '\'');
            if (cell.find_first_of(",\"\r\n") == std::string::npos)
            {
                csv += QByteArray::fromStdString(cell);
                continue;
            }
            csv += '"';
            for (const char c : cell)
            {
                if (c == '"')
                    csv += '"';
                csv += c;
            }
            csv += '"';
        }
        csv += "\r\n";
    };
    addLine(captions);
    for (const TResultRow& row : rows)
        addLine(row);
    return csv;
}

QByteArray SummaryJson(const TRunReport& report)
{
    const TRunRecord& run = report.Run;
    const TOutcomes outcomes = SummariseOutcomes(report.Rows);
    QJsonArray skipped;
    for (const TSkippedStock& stock : run.Skipped)
    {
        QJsonObject entry{{QStringLiteral("code"), Text(stock.Code)},
                          {QStringLiteral("name"), Text(stock.Name)},
                          {QStringLiteral("market"), Text(stock.Market)},
                          {QStringLiteral("reason"), Text(SkipReasonToken(stock.Reason))}};
        if (stock.Reason != TQuoteMiss::NoAnswer)
            entry.insert(QStringLiteral("page_bytes"), static_cast<qint64>(stock.PageBytes));
        skipped.append(entry);
    }
    QJsonObject summary{
        {QStringLiteral("sector"), Text(run.Sector)},
        {QStringLiteral("date"), Text(run.Date)},
        {QStringLiteral("conditions"), QJsonObject{{QStringLiteral("hits_only"), run.HitsOnly},
                                                   {QStringLiteral("under_100k"), run.Under100k},
                                                   {QStringLiteral("rsi30"), run.Rsi30}}},
        {QStringLiteral("entries"), run.Entries},
        {QStringLiteral("screened"), run.Screened},
        {QStringLiteral("listed"), static_cast<qint64>(report.Rows.size())},
        {QStringLiteral("outcomes"), QJsonObject{{QStringLiteral("target"), outcomes.Target},
                                                 {QStringLiteral("stop"), outcomes.Stop},
                                                 {QStringLiteral("held"), outcomes.Held}}},
        {QStringLiteral("closed_win_rate"), DecimalValue(outcomes.ClosedWinRate)},
        {QStringLiteral("mean_rate_closed"), DecimalValue(outcomes.MeanRateClosed)},
        {QStringLiteral("mean_return_closed"), DecimalValue(outcomes.MeanReturnClosed)},
        {QStringLiteral("not_listed"), QJsonObject{{QStringLiteral("no_purchase"), run.NotListed.NoPurchase},
                                                   {QStringLiteral("over_100k"), run.NotListed.Over100k},
                                                   {QStringLiteral("no_newest_signal"), run.NotListed.NoNewestSignal}}},
        {QStringLiteral("profit_closed"), static_cast<qint64>(outcomes.ProfitClosed)},
        {QStringLiteral("skipped"), skipped},
        {QStringLiteral("pages"), QJsonObject{{QStringLiteral("fetched"), static_cast<qint64>(run.Pages.Fetched)},
                                              {QStringLiteral("from_cache"), static_cast<qint64>(run.Pages.FromCache)}}},
        {QStringLiteral("ended"), Text(EndedText(run))},
    };
    if (run.SampleData)
        summary.insert(QStringLiteral("sample_data"), true);
    return QJsonDocument(summary).toJson(QJsonDocument::Indented);
}

QByteArray ReportHtml(const TRunReport& report)
{
    const TRunRecord& run = report.Run;
    QString html;
    html += QStringLiteral("<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n<title>");
    html += QStringLiteral("株価一覧 検索結果 ") + Escaped(run.Sector) + QLatin1Char(' ') + Escaped(run.Date);
    html += QStringLiteral("</title>\n<style>") + QString::fromUtf8(PageStyle) + QStringLiteral("</style>\n</head>\n<body>\n");
    html += QStringLiteral("<h1>株価一覧 検索結果: ") + Escaped(run.Sector) + QStringLiteral("（") + Escaped(run.Date) +
            QStringLiteral("）</h1>\n");
    // The note stands above the summary, so the summary does not say it again.
    TRunRecord summarised = run;
    summarised.SampleData = false;
    if (run.SampleData)
        html += QStringLiteral("<p class=\"note\">サンプルデータ（架空の株価）による検索です。実際の株価ではありません。</p>\n");
    html += QStringLiteral("<p class=\"summary\">") + Escaped(SummaryText(summarised, report.Rows, 0)) + QStringLiteral("</p>\n");

    html += QStringLiteral("<h2>検索結果（%1 銘柄）</h2>\n").arg(report.Rows.size());
    html += QStringLiteral("<div class=\"wide\">\n<table class=\"result\">\n<thead><tr><th>#</th>");
    for (const std::string& caption : report.Captions)
        html += QStringLiteral("<th>") + Escaped(caption) + QStringLiteral("</th>");
    html += QStringLiteral("</tr></thead>\n<tbody>\n");
    for (std::size_t row = 0; row < report.Rows.size(); ++row)
    {
        const bool chart = row < report.Charts.size() && !report.Charts[row].isEmpty();
        html += QStringLiteral("<tr><td class=\"n\">");
        html += chart ? QStringLiteral("<a href=\"#%1\">%2</a>").arg(RowAnchor(row)).arg(row + 1) : QString::number(row + 1);
        html += QStringLiteral("</td>");
        for (std::size_t column = 0; column < report.Rows[row].size(); ++column)
            html += QStringLiteral("<td class=\"") + CellClass(column) + QStringLiteral("\">") +
                    Escaped(report.Rows[row][column]) + QStringLiteral("</td>");
        html += QStringLiteral("</tr>\n");
    }
    html += QStringLiteral("</tbody>\n</table>\n</div>\n");

    html += QStringLiteral("<h2>週足チャート</h2>\n<div class=\"charts\">\n");
    for (std::size_t row = 0; row < report.Rows.size(); ++row)
    {
        if (row >= report.Charts.size() || report.Charts[row].isEmpty())
            continue;
        const QString title = Escaped(report.Rows[row][0]) + QStringLiteral("（") + Escaped(report.Rows[row][1]) +
                              QStringLiteral("）");
        const QSize size = PngSize(report.Charts[row]);
        html += QStringLiteral("<figure id=\"%1\"><figcaption>%2. ").arg(RowAnchor(row)).arg(row + 1) + title +
                QStringLiteral("</figcaption><img src=\"") + ChartFileName(row) +
                QStringLiteral("\" width=\"%1\" height=\"%2\" alt=\"").arg(size.width()).arg(size.height()) + title +
                QStringLiteral("\"></figure>\n");
    }
    html += QStringLiteral("</div>\n");

    html += QStringLiteral("<h2>株価を読めなかった銘柄（%1 銘柄）</h2>\n").arg(run.Skipped.size());
    if (!run.Skipped.empty())
    {
        html += QStringLiteral(
            "<table>\n<thead><tr><th>コード</th><th>銘柄名</th><th>市場</th><th>理由</th></tr></thead>\n<tbody>\n");
        for (const TSkippedStock& stock : run.Skipped)
            html += QStringLiteral("<tr><td>") + Escaped(stock.Code) + QStringLiteral("</td><td>") + Escaped(stock.Name) +
                    QStringLiteral("</td><td>") + Escaped(stock.Market) +
                    QStringLiteral("</td><td>") + Escaped(SkipReasonText(stock)) + QStringLiteral("</td></tr>\n");
        html += QStringLiteral("</tbody>\n</table>\n");
    }
    html += QStringLiteral("</body>\n</html>\n");
    return html.toUtf8();
}

QString ChartFileName(std::size_t row)
{
    return QStringLiteral("charts/%1.png").arg(row + 1, 4, 10, QLatin1Char('0'));
}

QByteArray PngBytes(const QImage& image)
{
    // A chart has a handful of colours: as a palette image it encodes several times faster
    // and smaller. Past 256 colours a palette would quantise, so such an image is written whole.
    QByteArray bytes = PalettePng(image);
    if (bytes.isEmpty())
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        writer.setQuality(PngQuality);
        if (!writer.write(image))
            throw TReportError("チャートを PNG にできません: " + writer.errorString().toStdString());
    }
    bytes.squeeze(); // the buffer grew by doubling; a run keeps thousands of these
    return bytes;
}

void WriteFileWhole(const QString& fileName, const QByteArray& bytes)
{
    // A temporary file beside it, renamed over it: a link planted under the name is replaced,
    // never written through (QSaveFile would write to the link's target).
    try
    {
        WriteFileReplacing(std::filesystem::path(QFile::encodeName(fileName).toStdString()),
                           std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    }
    catch (const std::system_error& error)
    {
        throw TReportError(std::string("書き込めません: ") + error.what());
    }
}

void WriteRunReport(const TRunReport& report, const QString& folder)
{
    const QDir dir(folder);
    if (!dir.mkpath(QStringLiteral(".")))
        throw TReportError(folder.toStdString() + " を作れません");
    const QString charts = dir.filePath(QStringLiteral("charts"));
    PrepareChartFolder(charts);

    // The page of an earlier, longer report in the same folder would leave its charts
    // behind; only the files that report wrote are removed, by its manifest.
    const QStringList earlier = ManifestNames(charts);
    QSet<QString> written;
    QByteArray manifest;
    for (std::size_t row = 0; row < report.Rows.size(); ++row)
    {
        if (row >= report.Charts.size() || report.Charts[row].isEmpty())
            continue;
        WriteFileWhole(dir.filePath(ChartFileName(row)), report.Charts[row]);
        const QString name = ChartFileName(row).mid(7); // after "charts/"
        written.insert(name);
        manifest += name.toLatin1() + '\n';
    }
    WriteFileWhole(charts + u'/' + ChartManifest, manifest);
    for (const QString& name : earlier)
        if (!written.contains(name))
            ::unlink(QFile::encodeName(charts + u'/' + name).constData());

    WriteFileWhole(dir.filePath(QStringLiteral("result.csv")), ResultCsv(report.Captions, report.Rows));
    WriteFileWhole(dir.filePath(QStringLiteral("summary.json")), SummaryJson(report));
    WriteFileWhole(dir.filePath(QStringLiteral("report.html")), ReportHtml(report));
}
