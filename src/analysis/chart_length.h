#pragma once

#include "data/history_page.h"

// The chart period the user picked: one bar per trading day or per week. The history
// loader names it too, and the two must never disagree.
using TChartLength = TChartPeriod;
