#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Exact decimal rounding and the Format patterns the program prints with.
// Rounding is always decimal, halves away from zero, on the exact value; nothing
// else in the program rounds. A printf of a binary double rounds half to even on
// the binary value instead, which turns 0.125 into "0.12" where users expect "0.13".

//! An exact decimal number: Scaled / 10^Scale. Scale is 0..18.
struct TDecimal
{
    std::int64_t Scaled = 0;
    int Scale = 0;
};

//! 10^n for n in 0..18.
std::int64_t Pow10(int n);

//! value rounded to `decimals` places, returned scaled by 10^decimals.
std::int64_t RoundScaled(TDecimal value, int decimals);

//! num / den rounded to `decimals` places, halves away from zero, scaled by 10^decimals.
//! den must not be 0; num * 10^decimals must fit in 128 bits.
std::int64_t RoundRatio(std::int64_t num, std::int64_t den, int decimals);

//! The exact value of a double rounded to `decimals` places, scaled by 10^decimals.
//! Throws std::range_error when the result does not fit in 64 bits or x is not finite.
std::int64_t RoundDouble(double x, int decimals);

//! "%W.Pd": at least `precision` digits (zero-padded), right-aligned in `width`.
//! A precision of 0 still prints the digit 0.
std::string FormatD(std::int64_t value, int width = 0, int precision = 0);

//! "%W.Pf": fixed notation with `decimals` places, right-aligned in `width`.
std::string FormatF(TDecimal value, int width, int decimals);
std::string FormatF(double value, int width, int decimals);

//! "%W.Pn": like "%W.Pf" with "," between groups of three integer digits.
std::string FormatN(TDecimal value, int width, int decimals);
std::string FormatN(double value, int width, int decimals);

//! "%Ws": right-aligned in `width` bytes (never truncated).
std::string FormatS(std::string_view text, int width);
