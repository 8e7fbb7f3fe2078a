#include "data/chart_source.h"

void TChartSource::BeginRun(const std::vector<std::string>&) {}

void TChartSource::StopReadingAhead() {}

void TChartSource::EndRun() {}
