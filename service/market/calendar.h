#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

// Calendar dates of the sample market: parsing, the "yyyy/mm/dd" text of the pages,
// and which days the synthetic market trades.

struct TDate
{
    int Year = 0;
    int Month = 0;
    int Day = 0;

    auto operator<=>(const TDate&) const = default;
};

//! True when year/month/day name a real day of the Gregorian calendar, years 1900..2200.
bool IsValidDate(int year, int month, int day);

//! Days since 1970-01-01 (negative before it). The date must be valid.
int DayNumber(TDate date);
TDate DateOfDayNumber(int dayNumber);
TDate AddDays(TDate date, int days);

//! 0 = Monday .. 6 = Sunday.
int Weekday(TDate date);

//! The Monday on or before `date`: weeks run Monday to Friday.
TDate WeekStart(TDate date);

//! "yyyy/mm/dd" or "yyyy-mm-dd" with two-digit month and day; nothing when the text is
//! not exactly that or names no real day.
std::optional<TDate> ParseDate(std::string_view text);

//! "yyyy/mm/dd".
std::string FormatDate(TDate date);

//! "yyyy-mm-dd", as the data API writes dates.
std::string DashedDate(TDate date);

//! Today's local date.
TDate LocalToday();

//! Whether the synthetic market trades on `date`: weekdays except the year-end break
//! (Dec 31 to Jan 3) and the national holidays that fall on a fixed date.
bool IsSyntheticTradingDay(TDate date);
