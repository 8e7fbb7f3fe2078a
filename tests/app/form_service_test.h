#pragma once

// The real form against a loopback finance service, with its message boxes captured.

#include "app/window/chart_pane.h"
#include "app/window/main_form.h"
#include "fake_dialogs.h"

#include "../data/test_pages.h"
#include "../data/test_support.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

//! "yyyy/mm/dd" of the week `index` weeks after Monday 2026/01/05.
inline std::string WeekDate2026(int index)
{
    const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::year{2026} / 1 / 5} +
                                           std::chrono::days{7 * index}};
    char text[16];
    std::snprintf(text, sizeof text, "%04d/%02u/%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

//! `weeks` weeks, newest first: 13 at 1000, 7 at 900, then 1100; opens 5 yen under the close.
//! Worked by hand: the 7-week average crosses the 13-week one at week 23 (long 962 over short
//! 957 at week 21, 969 under 986 at week 22, 977 under 1014 at week 23; 957 / 962 rounds to
//! 0.99). With 24 weeks that is the newest week; with more, the purchase is week 24's open,
//! 1095, on 2026/06/22, and the closes stay at 1100, under 110 % of 1095: still held.
inline std::vector<THistoryCells> VShapedWeeks(int weeks)
{
    std::vector<THistoryCells> rows;
    for (int i = weeks - 1; i >= 0; --i)
    {
        const int close = i < 13 ? 1000 : i < 20 ? 900 : 1100;
        rows.push_back({WeekDate2026(i), std::to_string(close), std::to_string(close - 5), std::to_string(close + 10),
                        std::to_string(close - 10), "50000"});
    }
    return rows;
}

class TFormServiceTest : public TLoopbackServiceTest
{
protected:
    //! Answers for the forms of the test: `TMainForm form(Dialogs);`.
    TFakeDialogs Dialogs;
    //! The message boxes the forms asked for.
    std::vector<TMessageBoxRequest>& Shown = Dialogs.Shown;
};
