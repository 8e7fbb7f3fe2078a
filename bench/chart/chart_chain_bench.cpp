#include "analysis/average_rsi.h"
#include "analysis/buy_signals.h"
#include "chart/chart_palette.h"
#include "chart/price_chart.h"
#include "chart/volume_chart.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>

namespace {

// 50 weekly bars of a stock that wanders, so the averages cross and results fire.
TChartBars SampleBars()
{
    TChartBars bars{};
    int close = 1000;
    for (int i = 0; i < MaxChartBars; ++i)
    {
        TChartRec& bar = bars[static_cast<std::size_t>(i)];
        char date[48];
        std::snprintf(date, sizeof date, "%04d/%02d/%02d", 2025 + i / 48, 1 + i / 4 % 12, 1 + 7 * (i % 4));
        bar.DateText = date;
        const int swing = (i / 8) % 2 == 0 ? 37 : -41;
        bar.OpenPrice = close;
        close += swing + (i % 3) * 5;
        bar.ClosePrice = close;
        bar.HighPrice = std::max(bar.OpenPrice, bar.ClosePrice) + 12;
        bar.LowPrice = std::min(bar.OpenPrice, bar.ClosePrice) - 9;
        bar.Dekidaka = 150000 + 7919 * (i % 13);
    }
    return bars;
}

// The library's share of one stock's chart chain, weekly, as the window runs it.
void ChartChain(benchmark::State& state)
{
    const TChartBars loaded = SampleBars();
    QImage chartImage(633, 225, QImage::Format_RGB32);
    QImage rsiImage(633, 121, QImage::Format_RGB32);
    QImage volumeImage(633, 73, QImage::Format_RGB32);
    TPaneScale chartScale;
    TPaneScale rsiScale;
    TBuySignalResult results;
    int markers = 0;
    for (auto _ : state)
    {
        TChartBars bars = loaded;
        QPainter chart(&chartImage);
        QPainter rsi(&rsiImage);
        QPainter volume(&volumeImage);
        DrawChartData(chart, rsi, bars, "1301.t", TChartLength::Weekly, {12345000, 4}, chartScale, rsiScale,
                      {}, DefaultChartPalette());
        for (TAverageInstance line : {TAverageInstance::ShortWeek, TAverageInstance::LongWeek})
        {
            benchmark::DoNotOptimize(CalcAverageRsi(bars, line));
            DrawAverageRsiLines(chart, rsi, bars, line, chartScale, rsiScale, DefaultChartPalette());
        }
        const TBuySignalScan scan = FindBuySignals(bars, TChartLength::Weekly, results);
        DrawBuySignalMarkers(chart, chartScale, scan.Markers, {}, DefaultChartPalette());
        markers = static_cast<int>(scan.Markers.size());
        DrawDekidakaData(volume, bars, chartScale, {}, DefaultChartPalette());
    }
    state.counters["stocks_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["markers"] = markers;
}
BENCHMARK(ChartChain)->Unit(benchmark::kMicrosecond);

// The arithmetic alone: both averages and the scan.
void AnalysisPasses(benchmark::State& state)
{
    const TChartBars loaded = SampleBars();
    TBuySignalResult results;
    for (auto _ : state)
    {
        TChartBars bars = loaded;
        benchmark::DoNotOptimize(CalcAverageRsi(bars, TAverageInstance::ShortWeek));
        benchmark::DoNotOptimize(CalcAverageRsi(bars, TAverageInstance::LongWeek));
        benchmark::DoNotOptimize(FindBuySignals(bars, TChartLength::Weekly, results));
    }
}
BENCHMARK(AnalysisPasses)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory: %ld KiB\n", usage.ru_maxrss);
    return 0;
}
