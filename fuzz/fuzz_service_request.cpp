// The service's request handling on any bytes, without a socket: the gate's limits on a head,
// the library's request line and query parsing, and the page answer of every route. The
// first byte's lowest bit chooses whether the rest is a whole request or a request target.
#include "http/finance_service.h"
#include "market/market.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

const TMarket& FuzzMarket()
{
    static const TMarket market = [] {
        const std::string market = std::string(MarketNames[0].MasterName);
        const std::string sector = std::string(SectorNames[0].Name);
        const std::string name = "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88"; // テスト
        TPriceBars days{{{2026, 12, 3}, 100, 110, 90, 105, 1000}, {{2026, 12, 4}, 0, 0, 0, 0, 0}};
        return TMarket({{"1301", name, market, sector}, {"7203", name, market, sector}, {"25935", name, market, sector}},
                       {{"1301", days}});
    }();
    return market;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TFinanceService service(FuzzMarket(), [] { return TDate{2026, 12, 4}; }, [](const std::string&) {});
    if (size == 0)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string request = (data[0] & 1) != 0 ? "GET " + bytes + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" : bytes;
    const std::string answer = service.AnswerBytes(request);
    if (!answer.empty() && answer.rfind("HTTP/1.1 ", 0) != 0)
        __builtin_trap(); // whatever came in, what goes out is an HTTP answer
    return 0;
}
