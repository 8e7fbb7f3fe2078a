// The menu commands that save or sum up a screening run, and what they hand the report library.

#include "app/window/main_form.h"

#include "data/cache_file.h"

#include <QAction>
#include <QFileDialog>
#include <QPainter>
#include <QTreeWidget>

namespace {

// Summary boxes name this many skipped stocks; the report files name them all.
constexpr std::size_t SkippedInBox = 20;

} // namespace

TChartScene TMainForm::ChartPanelScene() const
{
    TChartScene scene;
    scene.Size = ChartPanel->size();
    scene.Background = ChartPanel->palette().color(QPalette::Window);
    // In stacking order, so a pane covers the one row it shares with the pane above it.
    for (const TImageSurface* surface : ChartPanel->findChildren<TImageSurface*>(Qt::FindDirectChildrenOnly))
        scene.Layers.push_back({surface->pos(), surface->Shown});
    return scene;
}

QImage TMainForm::ChartPanelImage() const
{
    return ComposeChart(ChartPanelScene());
}

TRunReport TMainForm::LastRunReport() const
{
    TRunReport report;
    if (LastRun)
    {
        report.Run = *LastRun;
        report.Run.End = SettledEnd(report.Run);
    }
    const QTreeWidgetItem* header = KabuCodeList->headerItem();
    for (int column = 0; column < ResultColumnCount; ++column)
        report.Captions[static_cast<std::size_t>(column)] = header->text(column).toStdString();
    for (int i = 0; i < KabuCodeList->topLevelItemCount(); ++i)
    {
        const QTreeWidgetItem* item = KabuCodeList->topLevelItem(i);
        TResultRow row;
        for (int column = 0; column < ResultColumnCount; ++column)
            row[static_cast<std::size_t>(column)] = item->text(column).toStdString();
        report.Rows.push_back(std::move(row));
        report.Charts.push_back(RowChart(item));
    }
    return report;
}

QByteArray TMainForm::RowChart(const QTreeWidgetItem* row) const
{
    const QVariant number = row->data(0, ChartRole);
    return number.isValid() ? RunCharts.Png(number.toInt()) : QByteArray();
}

void TMainForm::UpdateReportActions()
{
    SaveResult1->setEnabled(!ScreeningRunning && LastRun.has_value());
    SearchSummary1->setEnabled(!ScreeningRunning && LastRun.has_value());
    SaveChartImage1->setEnabled(!ScreeningRunning && ChartDrawn);
    DataUpdate1->setEnabled(!ScreeningRunning && DataUpdateTarget.has_value());
    if (DataUpdateDialog)
        DataUpdateDialog->SetScreeningRunning(ScreeningRunning);
}

QString TMainForm::AskForPath(const TFileDialogRequest& request)
{
    if (FileDialogHook)
        return FileDialogHook(request);
    if (request.Kind == TFileDialogRequest::TKind::Folder)
        return QFileDialog::getExistingDirectory(this, request.Caption, request.Suggested);
    return QFileDialog::getSaveFileName(this, request.Caption, request.Suggested, request.Filter);
}

void TMainForm::SaveResult1Click()
{
    if (!LastRun)
        return;
    RunCommand({}, [this] {
        const QString folder = AskForPath({TFileDialogRequest::TKind::Folder, QStringLiteral("結果を保存するフォルダ"),
                                           QString(), QString()});
        if (!folder.isEmpty())
            WriteRunReport(LastRunReport(), folder);
    });
}

void TMainForm::SaveChartImage1Click()
{
    RunCommand({}, [this] {
        const QString suggested = QStringLiteral("chart-%1.png").arg(QString::fromStdString(TrimmedKey(ChartCode)));
        const QString file = AskForPath({TFileDialogRequest::TKind::SaveFile, QStringLiteral("チャートを画像で保存"),
                                         suggested, QStringLiteral("PNG (*.png)")});
        if (file.isEmpty())
            return;
        WriteFileWhole(file, PngBytes(ChartPanelImage()));
    });
}

void TMainForm::SearchSummary1Click()
{
    if (!LastRun)
        return;
    RunCommand({}, [this] {
        const TRunReport report = LastRunReport();
        ShowInformation(QString::fromStdString(SummaryText(report.Run, report.Rows, SkippedInBox)));
    });
}
