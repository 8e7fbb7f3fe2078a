#include "market/adjusted_days.h"

#include <algorithm>
#include <limits>

namespace {

__extension__ using TWide = __int128;

// The cumulative factor keeps at most this many decimals (rounded half up): far below what
// moves a whole yen, and the products stay within 128 bits.
constexpr int MaxScale = 18;
// Past this the factor is no real adjustment; further factors are not applied.
constexpr TWide MaxMantissa = static_cast<TWide>(1000000000000000000LL) * 1000000; // 1e24

TWide Pow10(int n)
{
    TWide value = 1;
    for (int i = 0; i < n; ++i)
        value *= 10;
    return value;
}

void Normalise(TFactor& factor)
{
    while (factor.Scale > 0 && factor.Mantissa % 10 == 0) {
        factor.Mantissa /= 10;
        --factor.Scale;
    }
    if (factor.Scale > MaxScale) {
        const TWide divisor = Pow10(factor.Scale - MaxScale);
        factor.Mantissa = (factor.Mantissa * 2 + divisor) / (divisor * 2);
        factor.Scale = MaxScale;
        Normalise(factor);
    }
}

bool IsOne(const TFactor& factor)
{
    return factor.Mantissa == Pow10(factor.Scale);
}

//! `value` × factor / unit, rounded half up; false when it does not fit.
bool Scaled(std::int64_t value, TWide multiplier, TWide divisor, std::int64_t& result)
{
    TWide product = 0;
    if (value < 0 || __builtin_mul_overflow(static_cast<TWide>(value), multiplier * 2, &product))
        return false;
    const TWide rounded = (product + divisor) / (divisor * 2);
    if (rounded > std::numeric_limits<std::int64_t>::max())
        return false;
    result = static_cast<std::int64_t>(rounded);
    return true;
}

} // namespace

std::optional<TFactor> ParseFactor(std::string_view text)
{
    TFactor factor{0, 0};
    bool point = false;
    bool digits = false;
    for (const char c : text) {
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            // 30 significant digits are more than any source writes.
            if (factor.Mantissa > Pow10(30))
                return std::nullopt;
            factor.Mantissa = factor.Mantissa * 10 + (c - '0');
            factor.Scale += point ? 1 : 0;
            digits = true;
        } else {
            return std::nullopt;
        }
    }
    if (!digits || factor.Mantissa == 0)
        return std::nullopt;
    Normalise(factor);
    return factor;
}

TServedDays AdjustedDays(const TRawDays& days, bool raw, int& badFactors)
{
    TServedDays served;
    served.Days.resize(days.size());
    TFactor cumulative; // the product of the factors of the ex-dates after the day at hand
    for (std::size_t i = days.size(); i-- > 0;) {
        const TRawDay& day = days[i];
        TPriceBar& bar = served.Days[i];
        bar.Date = day.Date;
        if (day.Traded) {
            // Prices are in hundredths of a yen: the divisor carries the hundred.
            const TWide priceDivisor = Pow10(cumulative.Scale) * 100;
            bool fits = Scaled(day.Open, cumulative.Mantissa, priceDivisor, bar.Open)
                        && Scaled(day.High, cumulative.Mantissa, priceDivisor, bar.High)
                        && Scaled(day.Low, cumulative.Mantissa, priceDivisor, bar.Low)
                        && Scaled(day.Close, cumulative.Mantissa, priceDivisor, bar.Close)
                        && Scaled(day.Volume, Pow10(cumulative.Scale), cumulative.Mantissa, bar.Volume);
            if (!fits)
                bar = TPriceBar{day.Date};
        }
        if (day.AdjFactor == "1")
            continue;
        const std::optional<TFactor> factor = ParseFactor(day.AdjFactor);
        if (!factor) {
            ++badFactors;
            continue;
        }
        if (IsOne(*factor))
            continue;
        served.Splits.push_back(day.Date);
        if (raw)
            continue;
        TFactor next{0, cumulative.Scale + factor->Scale};
        if (__builtin_mul_overflow(cumulative.Mantissa, factor->Mantissa, &next.Mantissa)) {
            ++badFactors;
            continue;
        }
        Normalise(next);
        if (next.Mantissa > MaxMantissa || next.Mantissa == 0) {
            ++badFactors;
            continue;
        }
        cumulative = next;
    }
    std::reverse(served.Splits.begin(), served.Splits.end());
    return served;
}
