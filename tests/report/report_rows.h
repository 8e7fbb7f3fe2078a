#pragma once

#include "screener/screening.h"

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

inline TResultRow Sold(const std::string& rate, const std::string& evaluation, const std::string& profit)
{
    return ReportRow("1301 極洋", rate, evaluation, profit);
}

inline TResultRow Held(const std::string& rate)
{
    return ReportRow("1301 極洋", rate, "　", "継続保有");
}
