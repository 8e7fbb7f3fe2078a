// What one page costs the service: the synthetic history behind it and the whole answer.
#include "http/finance_service.h"
#include "http/page_routes.h"
#include "market/market.h"
#include "pages/page_writer.h"
#include "common/service_contract.h"

#include <httplib.h>

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

const TDate Today{2026, 12, 4};

const TServedMarket& Sample()
{
    static const TServedMarket market = [] {
        std::vector<std::string> warnings;
        return TServedMarket(std::make_shared<const TMarket>(TMarket::Load(ORVANTA_SAMPLE_DATA, warnings)));
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

// A market of real data the size of the exchange's: 4,000 stocks over 500 business days, one
// split in each stock's history, built from raw days as a fetch stores them.
constexpr int RealStocks = 4000;
constexpr int RealDays = 500;

std::map<std::string, TRawDays> RawMarket(std::vector<TStock>& stocks)
{
    const std::string prime = "\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\xa0";                      // プライム
    const std::string sector = "\xe9\x9b\xbb\xe6\xb0\x97\xe6\xa9\x9f\xe5\x99\xa8";                     // 電気機器
    const std::string name = "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88\xe5\xb7\xa5\xe6\xa5\xad"; // テスト工業
    std::vector<TDate> dates;
    for (TDate date{2024, 11, 1}; dates.size() < RealDays; date = AddDays(date, 1))
        if (Weekday(date) < 5)
            dates.push_back(date);
    std::map<std::string, TRawDays> days;
    for (int i = 0; i < RealStocks; ++i) {
        const std::string code = std::to_string(1300 + i * 2);
        stocks.push_back({code, name, prime, sector});
        TRawDays& stock = days[code];
        std::int64_t close = 100000 + i * 37;
        for (std::size_t d = 0; d < dates.size(); ++d) {
            close += static_cast<std::int64_t>((d * 7919 + static_cast<std::size_t>(i)) % 2001) - 1000;
            stock.push_back({dates[d], true, close - 500, close + 900, close - 1200, close, 12300 + i, close * 12300,
                             d == 250 ? "0.5" : "1"});
        }
    }
    return days;
}

const TServedMarket& Real()
{
    static const TServedMarket market = [] {
        std::vector<TStock> stocks;
        const std::map<std::string, TRawDays> days = RawMarket(stocks);
        std::vector<std::string> warnings;
        return TServedMarket(
            std::make_shared<const TMarket>(TMarket::FromRawDays(std::move(stocks), days, false, warnings)));
    }();
    return market;
}

void BM_RealMarketLoad(benchmark::State& state)
{
    std::vector<TStock> stocks;
    const std::map<std::string, TRawDays> days = RawMarket(stocks);
    for (auto _ : state) {
        std::vector<std::string> warnings;
        // A reload: the market, then the texts its pages print, made before the first page.
        benchmark::DoNotOptimize(
            TServedMarket(std::make_shared<const TMarket>(TMarket::FromRawDays(stocks, days, false, warnings))));
    }
}
BENCHMARK(BM_RealMarketLoad)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RealQuoteReply(benchmark::State& state)
{
    const TQueryParams query{{"qt", "6000.t"}, {"sv", "MN"}, {"pg", "mn_schart.html"}};
    Real();
    for (auto _ : state)
        benchmark::DoNotOptimize(QuoteReply(Real(), query, Today));
}
BENCHMARK(BM_RealQuoteReply)->Unit(benchmark::kMicrosecond);

void BM_RealHistoryReply(benchmark::State& state)
{
    // The program's two asks: 330 days of weeks, 60 days of days, ending on the newest day held.
    const bool weekly = state.range(0) == 1;
    const TQueryParams query{{"sv", "MN"}, {"qt", "6000.t"}, {"sy", weekly ? "2025" : "2026"},
                             {"sm", weekly ? "12" : "09"}, {"sd", weekly ? "01" : "01"}, {"ey", "2026"},
                             {"em", "10"}, {"ed", "31"}, {"k", weekly ? "w" : "d"}};
    Real();
    for (auto _ : state)
        benchmark::DoNotOptimize(HistoryReply(Real(), query, Today));
}
BENCHMARK(BM_RealHistoryReply)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// A daily history page over loopback HTTP on one kept connection, as the program asks for it.
// The process CPU time counts the client's side too: an upper bound for the service's share.
void BM_RealPageOverHttp(benchmark::State& state)
{
    Real();
    TFinanceService service(Real().Market(), [] { return Today; }, [](const std::string&) {});
    const int port = service.BindAnyPort();
    std::thread serving([&] { service.Serve(); });
    while (!service.IsRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    httplib::Client client(ServiceHost, port);
    client.set_keep_alive(true);
    const std::string path = std::string(HistoryRoute) + "?sv=MN&qt=6000.t&sy=2026&sm=09&sd=01&ey=2026&em=10&ed=31&k=d";
    for (auto _ : state) {
        const httplib::Result result = client.Get(path);
        if (!result || result->status != 200) {
            state.SkipWithError("no page");
            break;
        }
    }
    service.Stop();
    serving.join();
}
BENCHMARK(BM_RealPageOverHttp)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseRealTime();

} // namespace

BENCHMARK_MAIN();
