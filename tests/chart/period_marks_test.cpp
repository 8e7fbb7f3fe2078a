#include "chart/period_marks.h"

#include "chart_test_bars.h"

#include <gtest/gtest.h>

#include "data/data_error.h"
#include <vector>

namespace {

TChartBars BarsWithDates(const std::vector<std::string>& dates)
{
    TChartBars bars{};
    for (std::size_t i = 0; i < dates.size(); ++i)
        bars[i].DateText = dates[i];
    return bars;
}

TEST(PeriodMarks, WeeklyNovemberToFebruary)
{
    // 16 weeks from 2025/11/03: November, December, January with its year, February.
    const TChartBars bars = FlatBars(16);
    const std::vector<TPeriodMark> marks = PeriodMarks(bars, TChartLength::Weekly);
    ASSERT_EQ(marks.size(), 4U);
    const struct
    {
        int index;
        const char* label;
        const char* year;
    } expected[] = {{0, "11", ""}, {4, "12", ""}, {9, "1", "2026"}, {13, "2", ""}};
    for (std::size_t i = 0; i < marks.size(); ++i)
    {
        SCOPED_TRACE(expected[i].label);
        EXPECT_EQ(marks[i].Index, expected[i].index);
        EXPECT_EQ(marks[i].Label, expected[i].label);
        EXPECT_EQ(marks[i].YearText, expected[i].year);
    }
    EXPECT_EQ(MonthStarts(bars), std::vector<int>({0, 4, 9, 13}));
}

TEST(PeriodMarks, DailyDayBands)
{
    const TChartBars bars = BarsWithDates({"2026/01/30", "2026/02/02", "2026/02/09", "2026/02/10", "2026/02/19",
                                           "2026/02/20", "2026/02/27", "2026/03/02", "2026/03/31", "2026/04/01"});
    const std::vector<TPeriodMark> marks = PeriodMarks(bars, TChartLength::Daily);
    const struct
    {
        int index;
        const char* label;
        const char* year;
    } expected[] = {{1, "2/2", ""}, {3, "2/10", "2026"}, {5, "2/20", ""}, {7, "3/2", ""}};
    // Day 30 (the first period) starts nothing; day 31 neither, so 4/1 stays in the band
    // that 3/2 marked and gets no mark of its own.
    ASSERT_EQ(marks.size(), std::size(expected));
    for (std::size_t i = 0; i < marks.size(); ++i)
    {
        SCOPED_TRACE(expected[i].label);
        EXPECT_EQ(marks[i].Index, expected[i].index);
        EXPECT_EQ(marks[i].Label, expected[i].label);
        EXPECT_EQ(marks[i].YearText, expected[i].year);
    }
    // The volume pane marks months in daily mode too.
    EXPECT_EQ(MonthStarts(bars), std::vector<int>({0, 1, 7, 9}));
}

TEST(PeriodMarks, MalformedDateIsADataError)
{
    struct Row
    {
        const char* date;
        bool monthBad; // weekly marks and month lines read only the month
    };
    const Row rows[] = {{"2026/1", true}, {"2026/xx/15", true}, {"2026/01/x5", false}};
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.date);
        const TChartBars bars = BarsWithDates({row.date});
        EXPECT_THROW(PeriodMarks(bars, TChartLength::Daily), TDataError);
        if (row.monthBad)
        {
            EXPECT_THROW(PeriodMarks(bars, TChartLength::Weekly), TDataError);
            EXPECT_THROW(MonthStarts(bars), TDataError);
        }
        else
        {
            EXPECT_EQ(MonthStarts(bars), std::vector<int>{0});
        }
    }
}

} // namespace
