// The report writers on a run of arbitrary names, codes, dates and cells: the CSV reads back
// cell for cell, the JSON parses and keeps every skipped stock, and no outside text becomes
// markup in the page.
#include "data/data_error.h"
#include "report/report_files.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Names the broken rule in the crash report before stopping.
#define Check(holds)                                                                      \
    do                                                                                    \
    {                                                                                     \
        if (!(holds))                                                                     \
        {                                                                                 \
            std::fprintf(stderr, "rule broken: %s\n", #holds);                           \
            __builtin_trap();                                                             \
        }                                                                                 \
    } while (false)

// The cells of every line, quotes undone, as a spreadsheet reads RFC 4180.
std::vector<std::vector<std::string>> ReadCsv(const QByteArray& csv)
{
    std::vector<std::vector<std::string>> lines;
    std::vector<std::string> cells{std::string()};
    bool quoted = false;
    for (qsizetype i = 3; i < csv.size(); ++i) // after the byte-order mark
    {
        const char c = csv[i];
        if (quoted)
        {
            if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"')
                cells.back() += csv[++i];
            else if (c == '"')
                quoted = false;
            else
                cells.back() += c;
        }
        else if (c == '"')
            quoted = true;
        else if (c == ',')
            cells.emplace_back();
        else if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n')
        {
            lines.push_back(cells);
            cells = {std::string()};
            ++i;
        }
        else
            cells.back() += c;
    }
    Check(!quoted && cells.size() == 1 && cells.front().empty()); // the text ends with a line end
    return lines;
}

std::string Disarmed(const std::string& cell)
{
    if (!cell.empty() && (cell[0] == '=' || cell[0] == '+' || cell[0] == '@' || cell[0] == '\t' || cell[0] == '\r'))
        return '\'' + cell;
    return cell;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider provider(data, size);
    TRunReport report;
    report.Run.Sector = provider.ConsumeRandomLengthString(30);
    report.Run.Date = provider.ConsumeRandomLengthString(12);
    report.Run.End = static_cast<TRunEnd>(provider.ConsumeIntegralInRange<int>(0, 5));
    report.Run.ErrorText = provider.ConsumeRandomLengthString(40);
    report.Run.SampleData = provider.ConsumeBool();
    const int skipped = provider.ConsumeIntegralInRange<int>(0, 4);
    for (int i = 0; i < skipped; ++i)
        report.Run.Skipped.push_back({provider.ConsumeRandomLengthString(8), provider.ConsumeRandomLengthString(8),
                                      static_cast<TQuoteMiss>(provider.ConsumeIntegralInRange<int>(0, 7)),
                                      provider.ConsumeIntegral<std::uint32_t>(), provider.ConsumeRandomLengthString(20)});
    for (std::string& caption : report.Captions)
        caption = provider.ConsumeRandomLengthString(6);
    const int rows = provider.ConsumeIntegralInRange<int>(0, 4);
    for (int i = 0; i < rows; ++i)
    {
        TResultRow row;
        for (std::string& cell : row)
            cell = provider.ConsumeRandomLengthString(12);
        report.Rows.push_back(row);
        report.Charts.push_back(provider.ConsumeBool() ? QByteArray::fromStdString(provider.ConsumeRandomLengthString(64))
                                                       : QByteArray());
    }

    const std::vector<std::vector<std::string>> lines = ReadCsv(ResultCsv(report.Captions, report.Rows));
    Check(lines.size() == report.Rows.size() + 1);
    for (std::size_t line = 0; line < lines.size(); ++line)
    {
        const TResultRow& cells = line == 0 ? report.Captions : report.Rows[line - 1];
        Check(lines[line].size() == cells.size());
        for (std::size_t column = 0; column < cells.size() && column < lines[line].size(); ++column)
            Check(lines[line][column] == Disarmed(cells[column]));
    }

    try
    {
        QJsonParseError error{};
        const QJsonDocument summary = QJsonDocument::fromJson(SummaryJson(report), &error);
        Check(error.error == QJsonParseError::NoError && summary.isObject());
        const QJsonArray stocks = summary.object()[QStringLiteral("skipped")].toArray();
        Check(stocks.size() == skipped);
        for (qsizetype i = 0; i < stocks.size(); ++i)
            Check(stocks[i].toObject()[QStringLiteral("code")].toString() ==
                  QString::fromStdString(report.Run.Skipped[static_cast<std::size_t>(i)].Code));
    }
    catch (const TDataError&)
    {
        // a rate or profit cell that does not convert: the summary is a data error
    }

    try
    {
        const QByteArray html = ReportHtml(report);
        // Every table row is the page's own: outside text cannot open one.
        const qsizetype expected = 1 + rows + (skipped > 0 ? 1 + skipped : 0);
        Check(html.count("<tr") == expected);
        Check(!html.contains("<script"));
    }
    catch (const TDataError&)
    {
        // the page's summary reads the same figures
    }
    return 0;
}
