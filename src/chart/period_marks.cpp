#include "chart/period_marks.h"

#include "data/data_error.h"

namespace {

// Characters [first, first + count) of the date (1-based, as the layout "yyyy/mm/dd" counts).
int DateNumber(const std::string& date, std::size_t first, std::size_t count)
{
    if (date.size() < first - 1 + count)
        throw TDataError("期間の日付が短すぎます: \"" + date + "\"");
    int value = 0;
    for (std::size_t i = first - 1; i < first - 1 + count; ++i)
    {
        const char c = date[i];
        if (c < '0' || c > '9')
            throw TDataError("期間の日付が数字ではありません: \"" + date + "\"");
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

std::vector<TPeriodMark> PeriodMarks(const TChartBars& bars, TChartLength length)
{
    std::vector<TPeriodMark> marks;
    int lastMarked = 99; // no month or day band is 99, so the first period is marked
    for (int k = 0; k < MaxChartBars; ++k)
    {
        const std::string& date = bars[static_cast<std::size_t>(k)].DateText;
        if (date.empty())
            continue;
        if (length == TChartLength::Weekly)
        {
            const int month = DateNumber(date, 6, 2);
            if (month == lastMarked)
                continue;
            lastMarked = month;
            marks.push_back({k, std::to_string(month), month == 1 ? date.substr(0, 4) : std::string()});
        }
        else
        {
            const int tens = DateNumber(date, 9, 1);
            // Days 30 and 31 never start a band of their own.
            if (tens == lastMarked || tens > 2)
                continue;
            lastMarked = tens;
            const std::string label =
                std::to_string(DateNumber(date, 6, 2)) + "/" + std::to_string(DateNumber(date, 9, 2));
            marks.push_back({k, label, tens == 1 ? date.substr(0, 4) : std::string()});
        }
    }
    return marks;
}

std::vector<int> MonthStarts(const TChartBars& bars)
{
    std::vector<int> starts;
    int lastMonth = 0;
    for (int k = 0; k < MaxChartBars; ++k)
    {
        const std::string& date = bars[static_cast<std::size_t>(k)].DateText;
        if (date.empty())
            continue;
        const int month = DateNumber(date, 6, 2);
        if (month == lastMonth)
            continue;
        lastMonth = month;
        starts.push_back(k);
    }
    return starts;
}
