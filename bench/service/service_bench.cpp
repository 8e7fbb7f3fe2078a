// What one page costs the service: the synthetic history behind it and the whole answer.
#include "market.h"
#include "page_writer.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

const TDate Today{2026, 12, 4};

const TMarket& Sample()
{
    static const TMarket market = [] {
        std::vector<std::string> warnings;
        return TMarket::Load(ORVANTA_SAMPLE_DATA, warnings);
    }();
    return market;
}

TQueryParams WeeklyQuery()
{
    return {{"sv", "MN"}, {"qt", "7203.t"}, {"sy", "2026"}, {"sm", "01"}, {"sd", "08"},
            {"ey", "2026"}, {"em", "12"}, {"ed", "04"}, {"k", "w"}};
}

void BM_SyntheticHistory(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(SyntheticBars(7203, AddDays(Today, -330), Today));
}
BENCHMARK(BM_SyntheticHistory)->Unit(benchmark::kMicrosecond);

void BM_QuoteReply(benchmark::State& state)
{
    const TQueryParams query{{"qt", "7203.t"}, {"sv", "MN"}, {"pg", "mn_schart.html"}};
    for (auto _ : state)
        benchmark::DoNotOptimize(QuoteReply(Sample(), query, Today));
}
BENCHMARK(BM_QuoteReply)->Unit(benchmark::kMicrosecond);

void BM_WeeklyHistoryReply(benchmark::State& state)
{
    const TQueryParams query = WeeklyQuery();
    for (auto _ : state)
        benchmark::DoNotOptimize(HistoryReply(Sample(), query, Today));
}
BENCHMARK(BM_WeeklyHistoryReply)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
