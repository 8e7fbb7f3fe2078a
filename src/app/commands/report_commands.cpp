#include "app/commands/report_commands.h"

#include "app/commands/result_list.h"
#include "app/commands/user_dialogs.h"
#include "data/cache_file.h"
#include "report/chart_archive.h"

#include <QImage>
#include <QTreeWidget>

namespace {

// Summary boxes name this many skipped stocks; the report files name them all.
constexpr std::size_t SkippedInBox = 20;

} // namespace

TRunReport RunReport(const std::optional<TRunRecord>& lastRun, const QTreeWidget& list, const TChartArchive& charts)
{
    TRunReport report;
    if (lastRun)
    {
        report.Run = *lastRun;
        report.Run.End = SettledEnd(report.Run);
    }
    const QTreeWidgetItem* header = list.headerItem();
    for (int column = 0; column < ResultColumnCount; ++column)
        report.Captions[static_cast<std::size_t>(column)] = header->text(column).toStdString();
    for (int i = 0; i < list.topLevelItemCount(); ++i)
    {
        const QTreeWidgetItem* item = list.topLevelItem(i);
        TResultRow row;
        for (int column = 0; column < ResultColumnCount; ++column)
            row[static_cast<std::size_t>(column)] = item->text(column).toStdString();
        report.Rows.push_back(std::move(row));
        report.Charts.push_back(RowChart(*item, charts));
    }
    return report;
}

QByteArray RowChart(const QTreeWidgetItem& row, const TChartArchive& charts)
{
    const QVariant number = row.data(0, ChartRole);
    return number.isValid() ? charts.Png(number.toInt()) : QByteArray();
}

void SaveRunReport(TUserDialogs& dialogs, QWidget* parent, const TRunReport& report)
{
    const QString folder = dialogs.AskForPath(
        parent, {TFileDialogRequest::TKind::Folder, QStringLiteral("結果を保存するフォルダ"), QString(), QString()});
    if (!folder.isEmpty())
        WriteRunReport(report, folder);
}

void SaveChartImage(TUserDialogs& dialogs, QWidget* parent, const std::function<QImage()>& chart,
                    const std::string& chartCode)
{
    const QString suggested = QStringLiteral("chart-%1.png").arg(QString::fromStdString(TrimmedKey(chartCode)));
    const QString file =
        dialogs.AskForPath(parent, {TFileDialogRequest::TKind::SaveFile, QStringLiteral("チャートを画像で保存"),
                                    suggested, QStringLiteral("PNG (*.png)")});
    if (file.isEmpty())
        return;
    WriteFileWhole(file, PngBytes(chart()));
}

QString RunSummaryText(const TRunReport& report)
{
    return QString::fromStdString(SummaryText(report.Run, report.Rows, SkippedInBox));
}
