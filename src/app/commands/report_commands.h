#pragma once

#include "report/report_files.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <string>

class QImage;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class TChartArchive;
class TUserDialogs;

// What the menu commands save or sum up of a screening run, and what they hand the report library.

//! The last run's report: its record (empty without `lastRun`), the list's rows in list order
//! and their charts.
TRunReport RunReport(const std::optional<TRunRecord>& lastRun, const QTreeWidget& list, const TChartArchive& charts);

//! The PNG bytes of a result row's chart; empty for a row without one.
QByteArray RowChart(const QTreeWidgetItem& row, const TChartArchive& charts);

//! "結果を保存…": asks for a folder and writes the report's files into it; nothing when the
//! dialog is cancelled. Throws TReportError.
void SaveRunReport(TUserDialogs& dialogs, QWidget* parent, const TRunReport& report);

//! "チャートを画像で保存…": asks for a file, suggesting "chart-<code>.png" of `chartCode`,
//! and writes the picture `chart` gives then there as PNG; nothing when the dialog is cancelled. Throws TReportError.
void SaveChartImage(TUserDialogs& dialogs, QWidget* parent, const std::function<QImage()>& chart,
                    const std::string& chartCode);

//! "検索結果の集計…": the report's summary in words, naming at most 20 skipped stocks.
QString RunSummaryText(const TRunReport& report);
