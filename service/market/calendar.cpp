#include "market/calendar.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

bool ReadDigits(std::string_view text, int& value)
{
    value = 0;
    for (char c : text)
    {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

} // namespace

bool IsValidDate(int year, int month, int day)
{
    if (year < 1900 || year > 2200 || month < 1 || month > 12 || day < 1)
        return false;
    const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    return date.ok();
}

int DayNumber(TDate date)
{
    const std::chrono::year_month_day ymd{std::chrono::year{date.Year},
                                          std::chrono::month{static_cast<unsigned>(date.Month)},
                                          std::chrono::day{static_cast<unsigned>(date.Day)}};
    return static_cast<int>(std::chrono::sys_days{ymd}.time_since_epoch().count());
}

TDate DateOfDayNumber(int dayNumber)
{
    const std::chrono::year_month_day ymd{std::chrono::sys_days{std::chrono::days{dayNumber}}};
    return {static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
            static_cast<int>(static_cast<unsigned>(ymd.day()))};
}

TDate AddDays(TDate date, int days)
{
    return DateOfDayNumber(DayNumber(date) + days);
}

int Weekday(TDate date)
{
    // 1970-01-01 was a Thursday (3 when Monday is 0).
    return ((DayNumber(date) % 7) + 7 + 3) % 7;
}

TDate WeekStart(TDate date)
{
    return AddDays(date, -Weekday(date));
}

std::optional<TDate> ParseDate(std::string_view text)
{
    if (text.size() != 10 || text[4] != text[7] || (text[4] != '/' && text[4] != '-'))
        return std::nullopt;
    TDate date;
    if (!ReadDigits(text.substr(0, 4), date.Year) || !ReadDigits(text.substr(5, 2), date.Month) ||
        !ReadDigits(text.substr(8, 2), date.Day))
        return std::nullopt;
    if (!IsValidDate(date.Year, date.Month, date.Day))
        return std::nullopt;
    return date;
}

std::string FormatDate(TDate date)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", date.Year, date.Month, date.Day);
    return text;
}

std::string DashedDate(TDate date)
{
    std::string text = FormatDate(date);
    text[4] = text[7] = '-';
    return text;
}

TDate LocalToday()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

bool IsSyntheticTradingDay(TDate date)
{
    if (Weekday(date) >= 5)
        return false;
    const int md = date.Month * 100 + date.Day;
    switch (md)
    {
    case 1231:
    case 101:
    case 102:
    case 103: // year-end break
    case 211:
    case 223:
    case 429:
    case 503:
    case 504:
    case 505:
    case 811:
    case 1103:
    case 1123:
        return false;
    default:
        return true;
    }
}
