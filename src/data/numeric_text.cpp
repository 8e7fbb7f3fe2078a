#include "data/numeric_text.h"

#include "common/exact_format.h"
#include "data/data_error.h"

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

[[noreturn]] void ThrowNotNumber(std::string_view text, const char* what)
{
    throw TDataError("\"" + std::string(text) + "\" は" + what + "ではありません");
}

} // namespace

std::string ExtractNumeric(std::string_view text)
{
    std::string kept;
    bool hasDigit = false;
    for (const char c : text)
    {
        if (IsDigit(c))
            hasDigit = true;
        if (IsDigit(c) || c == '.' || c == '-' || c == '+')
            kept += c;
    }
    return hasDigit ? kept : std::string("0");
}

std::int64_t StrToInt64(std::string_view text)
{
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        ++i;
    if (i == text.size())
        ThrowNotNumber(text, "整数");
    // The magnitude may reach 2^63 for the most negative value, so it is kept unsigned.
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : INT64_MAX;
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i)
    {
        if (!IsDigit(text[i]))
            ThrowNotNumber(text, "整数");
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (magnitude > (limit - digit) / 10)
            ThrowNotNumber(text, " 64 ビットの整数");
        magnitude = magnitude * 10 + digit;
    }
    return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

std::int32_t StrToInt32(std::string_view text)
{
    const std::int64_t value = StrToInt64(text);
    if (value < INT32_MIN || value > INT32_MAX)
        ThrowNotNumber(text, " 32 ビットの整数");
    return static_cast<std::int32_t>(value);
}

std::int64_t StrToFixedPoint(std::string_view text)
{
    // Half away from zero at 4 places depends on the fifth decimal only, so five are kept.
    constexpr int KeptDecimals = 5;
    constexpr std::int64_t MaxInteger = INT64_MAX / 100000;
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        ++i;
    std::int64_t integer = 0;
    std::int64_t fraction = 0;
    int fractionDigits = 0;
    bool hasDigit = false;
    bool inFraction = false;
    for (; i < text.size(); ++i)
    {
        const char c = text[i];
        if (c == '.' && !inFraction)
        {
            inFraction = true;
            continue;
        }
        if (!IsDigit(c))
            ThrowNotNumber(text, "小数");
        hasDigit = true;
        if (!inFraction)
        {
            integer = integer * 10 + (c - '0');
            if (integer > MaxInteger)
                ThrowNotNumber(text, "範囲内の小数");
        }
        else if (fractionDigits < KeptDecimals)
        {
            fraction = fraction * 10 + (c - '0');
            ++fractionDigits;
        }
    }
    if (!hasDigit)
        ThrowNotNumber(text, "小数");
    for (; fractionDigits < KeptDecimals; ++fractionDigits)
        fraction *= 10;
    const std::int64_t scaled = integer * 100000 + fraction;
    return RoundScaled(TDecimal{negative ? -scaled : scaled, KeptDecimals}, 4);
}
