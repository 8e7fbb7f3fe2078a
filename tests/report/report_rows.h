#pragma once

#include "screener/screening.h"

#include <cstdlib>
#include <string>

// Result rows made by hand, as the list shows them: only the cells the summary reads differ.
inline TResultRow ReportRow(const std::string& stock, const std::string& rate, const std::string& evaluation,
                            const std::string& profit)
{
    TResultRow row{stock, "東証", "  1,234円", "  12(1.23%)", "  1,200", "  1,250", "  1,190", " 1,234,500",
                   "  1株", "　　", "   1095円", "2026/06/22", "", "", rate, evaluation, profit,
                   "0.990", "1.020", "1.040", "1.000"};
    return row;
}

//! A trade closed at 1095 yen + the profit (one share a unit), its sale price filled in.
inline TResultRow Sold(const std::string& rate, const std::string& evaluation, const std::string& profit)
{
    TResultRow row = ReportRow("1301 極洋", rate, evaluation, profit);
    std::string digits;
    for (const char c : profit)
        if (c == '-' || (c >= '0' && c <= '9'))
            digits += c;
    row[12] = std::to_string(1095 + std::strtoll(digits.c_str(), nullptr, 10)) + "円";
    row[13] = "2026/07/06";
    return row;
}

inline TResultRow Held(const std::string& rate)
{
    return ReportRow("1301 極洋", rate, "　", "継続保有");
}
