#include "market/price_history.h"

#include "common/exact_format.h"
#include "market/text_convert.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace {

// The program reads prices in 32 bits, and volumes in 64 bits times 10,000 on its quote board.
constexpr std::int64_t MaxPrice = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t MaxVolume = std::numeric_limits<std::int64_t>::max() / 10000;

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '"'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '"' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> SplitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true)
    {
        const std::size_t comma = line.find(',', start);
        fields.push_back(Trim(line.substr(start, comma == std::string_view::npos ? comma : comma - start)));
        if (comma == std::string_view::npos)
            return fields;
        start = comma + 1;
    }
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

//! A non-negative decimal "123" or "123.45" rounded to whole units; nothing when malformed.
std::optional<std::int64_t> ReadWhole(std::string_view text)
{
    TDecimal value;
    bool digits = false;
    bool point = false;
    for (char c : text)
    {
        if (c == '.' && !point)
        {
            point = true;
        }
        else if (c >= '0' && c <= '9')
        {
            if (value.Scaled > (std::numeric_limits<std::int64_t>::max() - 9) / 10 || value.Scale >= 18)
                return std::nullopt;
            value.Scaled = value.Scaled * 10 + (c - '0');
            value.Scale += point ? 1 : 0;
            digits = true;
        }
        else
        {
            return std::nullopt;
        }
    }
    if (!digits)
        return std::nullopt;
    return RoundScaled(value, 0);
}

[[noreturn]] void Fail(int lineNumber, const std::string& message)
{
    throw TCsvError(std::to_string(lineNumber) + " 行目: " + message);
}

// SplitMix64's finaliser: a day's random figures are a pure function of code and date.
std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

double Unit(std::uint64_t h)
{
    return static_cast<double>(h >> 11) * 0x1.0p-53;
}

//! Roughly standard normal: the sum of four uniforms, centred and scaled to variance 1.
double Gauss(std::uint64_t h)
{
    double sum = 0;
    for (int i = 0; i < 4; ++i)
    {
        h = Mix(h);
        sum += Unit(h);
    }
    return (sum - 2.0) * 1.7320508075688772;
}

std::int64_t TickOf(std::int64_t price)
{
    if (price < 3000)
        return 1;
    if (price < 5000)
        return 5;
    if (price < 30000)
        return 10;
    if (price < 50000)
        return 50;
    return 100;
}

//! A price in whole yen on the exchange's tick grid. The made-up figures need only be the
//! same on every run, so plain truncation does; exact rounding here would cost a thousandfold.
std::int64_t Snap(double price)
{
    const std::int64_t yen = std::max<std::int64_t>(1, static_cast<std::int64_t>(price));
    const std::int64_t tick = TickOf(yen);
    return std::max(tick, (yen + tick / 2) / tick * tick);
}

} // namespace

TPriceBars ParsePriceCsv(std::string_view text, std::optional<TDate> latest)
{
    // Column of date, open, high, low, close, volume.
    std::array<std::size_t, 6> column{0, 1, 2, 3, 4, 5};
    TPriceBars bars;
    std::vector<int> barLines;
    bool first = true;
    int lineNumber = 0;
    for (const std::string_view rawLine : TextLines(text))
    {
        const std::string_view line = Trim(rawLine);
        ++lineNumber;
        if (line.empty())
            continue;
        const std::vector<std::string_view> fields = SplitFields(line);

        if (first && Lower(fields[0]) == "date")
        {
            constexpr std::array<std::string_view, 6> names{"date", "open", "high", "low", "close", "volume"};
            for (std::size_t i = 0; i < names.size(); ++i)
            {
                const auto found = std::find_if(fields.begin(), fields.end(),
                                                [&](std::string_view f) { return Lower(f) == names[i]; });
                if (found == fields.end())
                    Fail(lineNumber, "見出しに列 \"" + std::string(names[i]) + "\" がありません");
                column[i] = static_cast<std::size_t>(found - fields.begin());
            }
            first = false;
            continue;
        }
        first = false;

        if (fields.size() <= *std::max_element(column.begin(), column.end()))
            Fail(lineNumber, "項目が足りません");
        if (Lower(fields[column[1]]) == "null" || Lower(fields[column[5]]) == "null")
            continue; // a day the source has no figures for

        TPriceBar bar;
        const std::optional<TDate> date = ParseDate(fields[column[0]]);
        if (!date)
            Fail(lineNumber, "日付が正しくありません \"" + std::string(fields[column[0]]) + "\"");
        if (latest && *date > *latest)
            Fail(lineNumber, FormatDate(*date) + " は今日 (" + FormatDate(*latest) + ") より後の日付です");
        bar.Date = *date;
        std::array<std::int64_t*, 5> figures{&bar.Open, &bar.High, &bar.Low, &bar.Close, &bar.Volume};
        for (std::size_t i = 0; i < figures.size(); ++i)
        {
            const std::optional<std::int64_t> value = ReadWhole(fields[column[i + 1]]);
            if (!value || *value > (figures[i] == &bar.Volume ? MaxVolume : MaxPrice))
                Fail(lineNumber, "数値が正しくありません \"" + std::string(fields[column[i + 1]]) + "\"");
            *figures[i] = *value;
        }
        if (bar.Volume > 0 &&
            (bar.Low <= 0 || bar.Low > std::min(bar.Open, bar.Close) || bar.High < std::max(bar.Open, bar.Close)))
            Fail(lineNumber, "安値と高値が始値と終値を挟んでいません");
        bars.push_back(bar);
        barLines.push_back(lineNumber);
    }

    std::vector<std::size_t> order(bars.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return bars[a].Date < bars[b].Date; });
    TPriceBars sorted;
    sorted.reserve(bars.size());
    for (std::size_t i = 0; i < order.size(); ++i)
    {
        if (i > 0 && bars[order[i]].Date == bars[order[i - 1]].Date)
            Fail(barLines[order[i]], FormatDate(bars[order[i]].Date) + " は " + std::to_string(barLines[order[i - 1]]) +
                                         " 行目と同じ日です");
        sorted.push_back(bars[order[i]]);
    }
    if (sorted.empty())
        throw TCsvError("株価の行がありません");
    return sorted;
}

std::string PriceCsvText(const TPriceBars& bars)
{
    std::string text = "Date,Open,High,Low,Close,Volume\n";
    for (const TPriceBar& bar : bars)
    {
        char line[160];
        std::snprintf(line, sizeof line, "%04d-%02d-%02d,%lld,%lld,%lld,%lld,%lld\n", bar.Date.Year, bar.Date.Month,
                      bar.Date.Day, static_cast<long long>(bar.Open), static_cast<long long>(bar.High),
                      static_cast<long long>(bar.Low), static_cast<long long>(bar.Close),
                      static_cast<long long>(bar.Volume));
        text += line;
    }
    return text;
}

TPriceBars SyntheticBars(int code, TDate first, TDate last)
{
    const std::uint64_t seed =
        Mix(static_cast<std::uint64_t>(static_cast<unsigned>(code)) * std::uint64_t{0x100000001b3});
    // Per stock: a price level from 40 to 40,000 yen (log-uniform), a daily volatility and a
    // typical turnover, so large and small, calm and busy stocks all appear.
    const double level = 40.0 * std::pow(1000.0, Unit(Mix(seed ^ 1)));
    const double sigma = 0.010 + 0.014 * Unit(Mix(seed ^ 2));
    const double turnover = 1e8 * std::pow(200.0, Unit(Mix(seed ^ 3)));

    TPriceBars bars;
    double price = level * (0.7 + 0.6 * Unit(Mix(seed ^ 4)));
    double drift = 0;
    int regimeLeft = 0;
    int direction = Unit(Mix(seed ^ 5)) < 0.5 ? 1 : -1;
    const int lastDay = DayNumber(last);
    for (int day = DayNumber(SyntheticOrigin); day <= lastDay; ++day)
    {
        const TDate date = DateOfDayNumber(day);
        if (!IsSyntheticTradingDay(date))
            continue;
        const std::uint64_t h = Mix(seed ^ Mix(static_cast<std::uint64_t>(day)));

        // Trends of 3 to 14 weeks that mostly turn around, kept within a band around the
        // level: the moving averages cross and the chart looks like a market.
        if (regimeLeft == 0)
        {
            regimeLeft = 15 + static_cast<int>(Mix(h ^ 11) % 56);
            if (Unit(Mix(h ^ 12)) < 1.0)
                direction = -direction;
            if (price > level * 2.2)
                direction = -1;
            else if (price < level * 0.45)
                direction = 1;
            drift = direction * sigma * (0.20 + 0.20 * Unit(Mix(h ^ 13)));
        }
        --regimeLeft;

        // A pull back towards the level ends runs that the trends alone would carry on for years.
        const double pull = std::log(level / price) / 120.0;
        const double change = std::clamp(drift + pull + sigma * Gauss(h ^ 21), -0.2, 0.2);
        const double previous = price;
        price *= 1.0 + change;

        TPriceBar bar;
        bar.Date = date;
        bar.Close = Snap(price);
        bar.Open = Snap(previous * (1.0 + 0.35 * sigma * Gauss(h ^ 22)));
        const double reach = 0.45 * sigma * price;
        bar.High = std::max({bar.Open, bar.Close, Snap(price + reach * std::abs(Gauss(h ^ 23)))});
        bar.Low = std::min({bar.Open, bar.Close, Snap(price - reach * std::abs(Gauss(h ^ 24)))});
        const double busy = 0.5 + Unit(Mix(h ^ 25)) + 6.0 * std::abs(change);
        bar.Volume =
            std::clamp<std::int64_t>(static_cast<std::int64_t>(turnover / price * busy / 100.0) * 100, 100, 80'000'000);
        if (date >= first)
            bars.push_back(bar);
    }
    return bars;
}

TPriceBars TradedBarsInRange(const TPriceBars& days, TDate first, TDate last)
{
    TPriceBars traded;
    for (const TPriceBar& bar : days)
        if (bar.Volume > 0 && bar.Date >= first && bar.Date <= last)
            traded.push_back(bar);
    return traded;
}

namespace {

//! Traded days merged into bars by `periodOf` (the first day of a day's period): open of the first
//! day, highest high, lowest low, close of the last, summed volume, dated by the first day.
template <typename TPeriodOf>
TPriceBars GroupedBars(const TPriceBars& tradedDays, TPeriodOf periodOf)
{
    TPriceBars bars;
    TDate current;
    for (const TPriceBar& day : tradedDays)
    {
        if (day.Volume <= 0)
            continue;
        const TDate period = periodOf(day.Date);
        if (bars.empty() || period != current)
        {
            current = period;
            bars.push_back(day);
            continue;
        }
        TPriceBar& bar = bars.back();
        bar.High = std::max(bar.High, day.High);
        bar.Low = std::min(bar.Low, day.Low);
        bar.Close = day.Close;
        bar.Volume += day.Volume;
    }
    return bars;
}

} // namespace

TPriceBars WeeklyBars(const TPriceBars& tradedDays)
{
    return GroupedBars(tradedDays, WeekStart);
}

TPriceBars MonthlyBars(const TPriceBars& tradedDays)
{
    return GroupedBars(tradedDays, [](TDate date) { return TDate{date.Year, date.Month, 1}; });
}
