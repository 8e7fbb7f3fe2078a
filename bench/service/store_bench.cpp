// What the market's storage costs the serving process: a market of S stocks over D trading days
// written straight into market.db (day by day, as the fetch writes), and at 500 days
// the chunk store beside it, each served by orvanta-service on loopback. Prints its figures;
// asserts nothing.
//
// store_bench <orvanta-service> [--days N] [--stocks N] [--pages N] [--dir DIR] [--keep]
// Without --days it runs 500 and 4,400 days.
#include "market/bar_store.h"
#include "market/data_version.h"
#include "market/market_db.h"
#include "process_usage.h"

#include "common/service_contract.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* Loopback = "127.0.0.1";
constexpr TDate LastDay{2026, 2, 6};
constexpr std::size_t DaysPerCommit = 25;
constexpr std::string_view NotFoundText =
    "\xb8\xab\xa4\xc4\xa4\xab\xa4\xea\xa4\xde\xa4\xbb\xa4\xf3\xa4\xc7\xa4\xb7\xa4\xbf"; // 見つかりませんでした, EUC-JP
const std::string Prime = "\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\xa0";           // プライム
const std::string Fisheries = "\xe6\xb0\xb4\xe7\x94\xa3\xef\xbd\xa5\xe8\xbe\xb2\xe6\x9e\x97\xe6\xa5\xad"; // 水産･農林業

using TClock = std::chrono::steady_clock;

double MsSince(TClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

std::string CodeOf(int index)
{
    return std::to_string(1301 + index);
}

//! The `count` weekdays ending at LastDay, oldest first.
std::vector<TDate> TradingDays(int count)
{
    std::vector<TDate> days;
    for (TDate date = LastDay; static_cast<int>(days.size()) < count; date = AddDays(date, -1))
        if (Weekday(date) < 5)
            days.push_back(date);
    std::reverse(days.begin(), days.end());
    return days;
}

//! One day of the whole market: a random walk per stock, whole yen but for every 40th stock,
//! which trades in 0.1-yen ticks as the largest do; a day without trades now and then, and a
//! 1:2 split for every 97th stock in the middle of the range.
class TMarketWalk
{
public:
    explicit TMarketWalk(int stocks) : Closes(static_cast<std::size_t>(stocks))
    {
        for (std::size_t i = 0; i < Closes.size(); ++i)
            Closes[i] = 50000 + static_cast<std::int64_t>(i * 7919 % 400000);
    }

    std::vector<TBarRow> Day(TDate date, bool splitDay)
    {
        std::vector<TBarRow> rows;
        rows.reserve(Closes.size());
        for (std::size_t i = 0; i < Closes.size(); ++i)
        {
            Seed = Seed * 6364136223846793005ULL + 1442695040888963407ULL;
            const std::int64_t tick = i % 40 == 0 ? 10 : 100;
            const auto step = [&](int shift, int span) {
                return static_cast<std::int64_t>((Seed >> shift) % static_cast<std::uint64_t>(span)) * tick;
            };
            TBarRow row{CodeOf(static_cast<int>(i)) + "0", TRawDay{date}};
            if ((Seed >> 60) == 0 && (Seed >> 20) % 8 == 0)
            {
                rows.push_back(std::move(row)); // no trades
                continue;
            }
            std::int64_t& close = Closes[i];
            if (splitDay && i % 97 == 0)
            {
                close = close / 2 / tick * tick;
                row.Day.AdjFactor = "0.5";
            }
            close = std::max(tick * 10, close + step(8, 21) - 10 * tick);
            row.Day.Traded = true;
            row.Day.Open = std::max(tick, close + step(16, 11) - 5 * tick);
            row.Day.High = std::max(row.Day.Open, close) + step(24, 6);
            row.Day.Low = std::max(tick, std::min(row.Day.Open, close) - step(32, 6));
            row.Day.Close = close;
            row.Day.Volume = static_cast<std::int64_t>(1000 + (Seed >> 40) % 500000);
            row.Day.Turnover = close * row.Day.Volume / 100;
            rows.push_back(std::move(row));
        }
        return rows;
    }

private:
    std::vector<std::int64_t> Closes; // hundredths of a yen
    std::uint64_t Seed = 88172645463325252ULL;
};

std::vector<TDbStock> Master(int stocks)
{
    std::vector<TDbStock> master;
    for (int i = 0; i < stocks; ++i)
        master.push_back({TStock{CodeOf(i), "Stock " + CodeOf(i), Prime, Fisheries}, CodeOf(i) + "0"});
    return master;
}

void WriteMarker(const std::filesystem::path& folder)
{
    std::ofstream(folder / RealDataFileName) << "store_bench\n";
    BumpDataVersion(folder);
}

//! Bytes on disk per stored day of market.db, after a checkpoint leaves no WAL.
double WriteDatabase(const std::filesystem::path& folder, int stocks, const std::vector<TDate>& days)
{
    std::filesystem::create_directories(folder);
    long long rows = 0;
    {
        TMarketDb db(folder, TMarketDb::TMode::Write);
        // The writer's cache holds the last page of every stock, which each day appends to.
        db.Db().Exec("PRAGMA cache_size = -262144");
        db.ReplaceStocks(Master(stocks));
        TMarketWalk walk(stocks);
        // Rows go in day after day as the fetch's do, so pages fill as they do for a user; a
        // transaction holds DaysPerCommit days to spare the disk 4,400 syncs.
        std::vector<TBarRow> pending;
        for (std::size_t d = 0; d < days.size(); ++d)
        {
            std::vector<TBarRow> market = walk.Day(days[d], d == days.size() / 2);
            rows += static_cast<long long>(market.size());
            std::move(market.begin(), market.end(), std::back_inserter(pending));
            if ((d + 1) % DaysPerCommit == 0 || d + 1 == days.size())
            {
                db.Commit({TBarRequest::TKind::Date, DashedDate(days[d]), 0, "", LastDay, stocks}, pending);
                pending.clear();
            }
        }
        db.Db().Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    WriteMarker(folder);
    return static_cast<double>(std::filesystem::file_size(folder / MarketDbFileName)) / static_cast<double>(rows);
}

//! Bytes on disk per stored day of bars/.
double WriteChunkStore(const std::filesystem::path& folder, int stocks, const std::vector<TDate>& days)
{
    std::filesystem::create_directories(folder);
    long long rows = 0;
    {
        std::ofstream master(folder / "stocks.csv");
        for (const TDbStock& stock : Master(stocks))
            master << stock.Stock.Code << ',' << stock.Stock.Name << ',' << stock.Stock.Market << ','
                   << stock.Stock.Sector << '\n';
    }
    {
        TBarStore store(folder);
        TMarketWalk walk(stocks);
        for (std::size_t d = 0; d < days.size(); ++d)
        {
            const std::vector<TBarRow> market = walk.Day(days[d], d == days.size() / 2);
            store.Commit({TBarRequest::TKind::Date, DashedDate(days[d]), 0, "", LastDay, stocks}, market);
            rows += static_cast<long long>(market.size());
        }
    }
    WriteMarker(folder);
    std::uintmax_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "bars"))
        if (entry.is_regular_file())
            bytes += entry.file_size();
    return static_cast<double>(bytes) / static_cast<double>(rows);
}

//! The port of the address line "…http://127.0.0.1:PORT" the service writes once it listens.
int PortInLog(const std::filesystem::path& log)
{
    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string mark = std::string("http://") + Loopback + ":";
    const std::size_t at = text.find(mark);
    if (at == std::string::npos)
        return -1;
    const std::size_t digits = at + mark.size();
    const std::size_t end = text.find_first_not_of("0123456789", digits);
    if (end == std::string::npos || end == digits)
        return -1; // the line is not whole yet
    return std::stoi(text.substr(digits, end - digits));
}

bool IsPage(const httplib::Result& result)
{
    return result && result->status == 200 && result->body.find(NotFoundText) == std::string::npos;
}

std::string QuotePath(const std::string& code)
{
    return std::string(QuoteRoute) + "?qt=" + code + ".t&sv=MN&pg=mn_schart.html";
}

// The program's ranges: a daily page of about four months, a weekly one of 330 days.
std::string DailyPath(const std::string& code)
{
    return std::string(HistoryRoute) + "?sv=MN&qt=" + code + ".t&sy=2025&sm=10&sd=06&ey=2026&em=02&ed=06&k=d";
}

std::string WeeklyPath(const std::string& code)
{
    return std::string(HistoryRoute) + "?sv=MN&qt=" + code + ".t&sy=2025&sm=03&sd=13&ey=2026&em=02&ed=06&k=w";
}

std::string WeeklyBarsPath(const std::string& code)
{
    return std::string(BarsRoute) + "?code=" + code + "&period=weekly";
}

void Measure(const std::string& service, const std::filesystem::path& folder, int stocks, int pages)
{
    const std::filesystem::path log = folder.parent_path() / (folder.filename().string() + ".log");
    std::vector<std::string> argv = {service, "--data", folder.string(), "--port", "0"};
    std::vector<char*> pointers = ExecArgv(argv);
    std::string path = "PATH=/usr/bin:/bin";
    char* environment[] = {path.data(), nullptr};
    const TClock::time_point started = TClock::now();
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execve(pointers[0], pointers.data(), environment);
        ::_exit(127);
    }
    // Every 5 ms, for at most 30 s: the address line, then the first whole quote page.
    int port = -1;
    bool answered = false;
    const std::string firstCode = CodeOf(stocks / 2);
    while (!answered && TClock::now() - started < std::chrono::seconds(30))
    {
        if (port < 0)
            port = PortInLog(log);
        if (port > 0)
        {
            httplib::Client probe(Loopback, port);
            probe.set_connection_timeout(1, 0);
            answered = IsPage(probe.Get(QuotePath(firstCode)));
        }
        if (!answered)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double firstPage = MsSince(started);
    if (!answered)
    {
        std::printf("  first page: NO ANSWER within 30 s\n");
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return;
    }
    std::printf("  first page answered after exec: %.0f ms (target: <= 300 ms at 4,400 days)\n", firstPage);

    httplib::Client client(Loopback, port);
    client.set_keep_alive(true);
    client.set_read_timeout(30, 0);
    int failed = 0;
    for (int i = 0; i < stocks; ++i)
        failed += !IsPage(client.Get(QuotePath(CodeOf(i)))) + !IsPage(client.Get(WeeklyPath(CodeOf(i))));
    std::printf("  RSS after a quote and a weekly page of every stock: %.0f MB (target: <= 150 MB at 4,400 days)%s\n",
                static_cast<double>(StatusKb(pid, "VmRSS:")) / 1024, failed ? " (SOME PAGES FAILED)" : "");

    const struct
    {
        const char* Name;
        std::string (*Path)(const std::string&);
        double Target;
    } kinds[] = {{"quote", QuotePath, 0.1}, {"daily", DailyPath, 0.2}, {"weekly", WeeklyPath, 0.3}};
    for (const auto& kind : kinds)
    {
        int good = 0;
        const double before = ProcessCpuSeconds(pid);
        for (int i = 0; i < pages; ++i)
            good += IsPage(client.Get(kind.Path(CodeOf(i * 7 % stocks))));
        const double cpu = ProcessCpuSeconds(pid) - before;
        std::printf("  service CPU a %-6s page: %.3f ms over %d pages, %d whole (target: <= %.1f ms)\n", kind.Name,
                    cpu * 1e3 / pages, pages, good, kind.Target);
    }

    std::vector<double> one;
    for (int i = 0; i < 21; ++i)
    {
        const TClock::time_point asked = TClock::now();
        const httplib::Result result = client.Get(WeeklyBarsPath(CodeOf(i * 191 % stocks)));
        one.push_back(result && result->status == 200 ? MsSince(asked) : 1e9);
    }
    std::sort(one.begin(), one.end());
    std::printf("  /orvanta/bars weekly of one stock: median %.2f ms, slowest %.2f ms of 21 (target: <= 3 ms)\n",
                one[one.size() / 2], one.back());

    const TClock::time_point all = TClock::now();
    int whole = 0;
    for (int i = 0; i < stocks; ++i)
    {
        const httplib::Result result = client.Get(WeeklyBarsPath(CodeOf(i)));
        whole += result && result->status == 200;
    }
    std::printf("  /orvanta/bars weekly of every stock, one client: %.2f s, %d of %d answered (target: <= 10 s)\n",
                MsSince(all) / 1e3, whole, stocks);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

int Usage()
{
    std::fprintf(stderr, "usage: store_bench <orvanta-service> [--days N] [--stocks N] [--pages N] [--dir DIR] "
                         "[--keep]\n");
    return 64;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string service = argv[1];
    std::vector<int> dayCounts = {500, 4400};
    int stocks = 4000;
    int pages = 2000;
    bool keep = false;
    const char* tmp = std::getenv("TMPDIR");
    std::filesystem::path dir = std::filesystem::path(tmp && *tmp ? tmp : "/tmp") / "orvanta_store_bench";
    for (int i = 2; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const bool valued = arg == "--days" || arg == "--stocks" || arg == "--pages" || arg == "--dir";
        if (valued && i + 1 >= argc)
            return Usage();
        const char* value = valued ? argv[++i] : "";
        if (arg == "--days")
            dayCounts = {std::max(1, std::atoi(value))};
        else if (arg == "--stocks")
            stocks = std::clamp(std::atoi(value), 1, 8699);
        else if (arg == "--pages")
            pages = std::max(1, std::atoi(value));
        else if (arg == "--dir")
            dir = value;
        else if (arg == "--keep")
            keep = true;
        else
            return Usage();
    }
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);

    for (const int dayCount : dayCounts)
    {
        const std::vector<TDate> days = TradingDays(dayCount);
        std::printf("market.db: %d stocks x %d trading days (%s..%s)\n", stocks, dayCount,
                    DashedDate(days.front()).c_str(), DashedDate(days.back()).c_str());
        const std::filesystem::path folder = dir / ("db-" + std::to_string(dayCount));
        const TClock::time_point written = TClock::now();
        const double bytes = WriteDatabase(folder, stocks, days);
        std::printf("  written in %.1f s, %zu days a transaction\n", MsSince(written) / 1e3, DaysPerCommit);
        std::printf("  bytes on disk per stored day: %.1f (target: <= 80)\n", bytes);
        Measure(service, folder, stocks, pages);

        if (dayCount == 500)
        {
            std::printf("chunk store: %d stocks x %d trading days\n", stocks, dayCount);
            const std::filesystem::path chunks = dir / ("chunks-" + std::to_string(dayCount));
            std::printf("  bytes on disk per stored day: %.1f\n", WriteChunkStore(chunks, stocks, days));
            Measure(service, chunks, stocks, pages);
        }
    }
    if (!keep)
        std::filesystem::remove_all(dir);
    return 0;
}
