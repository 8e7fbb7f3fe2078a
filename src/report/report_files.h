#pragma once

#include "report/run_summary.h"

#include <QByteArray>
#include <QString>

#include <stdexcept>
#include <vector>

class QImage;

// The files of a screening report: result.csv, summary.json, report.html and the charts/
// folder the page shows its pictures from.

//! One run's report: its record, the list's captions and rows in list order, and the chart
//! of every row as the run drew it.
struct TRunReport
{
    TRunRecord Run;
    TResultRow Captions;
    std::vector<TResultRow> Rows;
    std::vector<QByteArray> Charts; // PNG bytes per row, in the rows' order; empty where none
};

// A report file that could not be written, with the file and the reason.
class TReportError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

//! The rows as CSV: UTF-8 with a byte-order mark, CR LF line ends, the captions first; a cell
//! starting with '=', '+', '@', a tab or a CR gets a leading apostrophe (a spreadsheet would run
//! it as a formula); a cell holding a comma, a quote or a line break is quoted, its quotes
//! doubled (RFC 4180).
QByteArray ResultCsv(const TResultRow& captions, const std::vector<TResultRow>& rows);

//! The run's summary as indented UTF-8 JSON. Throws TDataError when a row's figure does
//! not convert.
QByteArray SummaryJson(const TRunReport& report);

//! One self-contained page (no scripts, no remote resources), every outside text escaped,
//! the charts taken from ChartFileName of each row that has one.
QByteArray ReportHtml(const TRunReport& report);

//! "charts/0001.png" for the first row: numbered by list place, never named from a page.
QString ChartFileName(std::size_t row);

//! `image` as PNG bytes.
QByteArray PngBytes(const QImage& image);

//! Replaces `fileName` with `bytes` whole, or leaves it as it was, through a temporary file
//! renamed over it: a link under that name is replaced, never written through. Throws
//! TReportError.
void WriteFileWhole(const QString& fileName, const QByteArray& bytes);

//! Writes the three files and the charts into `folder`, created if missing. Each file is
//! replaced whole or not at all. charts/ must be a folder of the user's, not a link; the
//! charts an earlier report wrote there (listed in its manifest) and this one does not are
//! removed, no other file. Throws TReportError when a file cannot be written.
void WriteRunReport(const TRunReport& report, const QString& folder);
