#include "app/commands/lookup_command.h"

#include "app/commands/chart_view.h"
#include "app/commands/stock_key.h"
#include "screener/screening.h"

#include <QTreeWidgetItem>

std::optional<QString> LookUpStock(TChartView& chart, const QString& code, int marketIndex, TChartLength length)
{
    const TCodeCheck check = CheckKabuCode(code, true);
    if (check != TCodeCheck::Ok)
        return CodeCheckMessage(check);
    const std::string key = MakeKabuKey(code, marketIndex);
    if (!chart.GetKabuKa(key))
        return QStringLiteral("データがありません。");
    chart.RefreshChart(key, length);
    return std::nullopt;
}

std::optional<QString> SwitchPeriod(TChartView& chart, const QString& code, int marketIndex, TChartLength length)
{
    const TCodeCheck check = CheckKabuCode(code, false);
    if (check != TCodeCheck::Ok)
        return CodeCheckMessage(check);
    chart.RefreshChart(MakeKabuKey(code, marketIndex), length);
    return std::nullopt;
}

void OpenResultRow(TChartView& chart, const QTreeWidgetItem& row, TChartLength length)
{
    const std::optional<std::string_view> suffix = KeySuffixOfMarketName(row.text(1).toStdString());
    // A row without a known market has no key; it opens nothing rather than asking the
    // service for an empty code.
    if (!suffix)
        return;
    // Column 1 is the code, a blank and the name; the code may have five characters (25935).
    const QString cell = row.text(0).trimmed();
    const std::string key = cell.left(cell.indexOf(u' ')).toStdString() + std::string(*suffix);
    if (chart.GetKabuKa(key))
        chart.RefreshChart(key, length);
}
