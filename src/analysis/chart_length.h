#pragma once

// The chart period the user picked: one bar per trading day or per week.
enum class TChartLength
{
    Daily,
    Weekly
};
