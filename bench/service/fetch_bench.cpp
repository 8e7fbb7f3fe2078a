// What a first load of the whole market costs on this machine: orvanta-service --fetch of a
// 4,000-stock market over 500 trading days from the loopback stand-in without a rate limit,
// then loading what it stored. Prints its figures; asserts nothing.
#include "jquants_standin.h"
#include "loopback_port.h"
#include "market/bar_store.h"
#include "process_usage.h"
#include "sources/jquants_client.h"

#include "common/service_contract.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <ctime>
#include <fcntl.h>
#include <sstream>
#include <thread>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Stocks = 4000;
constexpr int TradingDays = 500;
constexpr size_t PageSize = 1000;
constexpr const char* Loopback = "127.0.0.1";
constexpr std::string_view NotFoundText =
    "\xb8\xab\xa4\xc4\xa4\xab\xa4\xea\xa4\xde\xa4\xbb\xa4\xf3\xa4\xc7\xa4\xb7\xa4\xbf"; // 見つかりませんでした, EUC-JP

double Seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

std::string Dashed(TDate date)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.Year, date.Month, date.Day);
    return text;
}

// The first calendar day from which `count` trading days of the stand-in end at `last`.
TDate FirstDayFor(TDate last, int count)
{
    TDate first = last;
    for (;;) {
        const TStandinMarket probe = TStandinMarket::Generated(1, first, last);
        if (static_cast<int>(probe.TradingDays().size()) >= count)
            return first;
        first = AddDays(first, -7);
    }
}

// CPU time of the calling thread: the machine may be shared, and the stand-in's threads are not
// the fetch's work.
double ThreadCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct TChildUsage
{
    int Exit = -1;
    double WallSeconds = 0;
    double CpuSeconds = 0;
    long PeakKb = 0;
};

TChildUsage RunChild(const std::vector<std::string>& args, const std::string& key)
{
    std::vector<std::string> argv = args;
    std::vector<char*> pointers = ExecArgv(argv);
    std::string keyVariable = std::string(ApiKeyVariable) + "=" + key;
    std::string path = "PATH=/usr/bin:/bin";
    char* environment[] = {keyVariable.data(), path.data(), nullptr};
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execve(pointers[0], pointers.data(), environment);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    TChildUsage result;
    result.WallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.CpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    result.PeakKb = usage.ru_maxrss;
    return result;
}

// The service on the fetched folder: the time from exec to its first page answered, the CPU
// each kind of page costs it over a kept-alive connection, and its peak memory.
void MeasureServing(const std::string& service, const std::filesystem::path& data)
{
    const int port = FreeLoopbackPort();
    std::vector<std::string> argv = {service, "--port", std::to_string(port), "--data", data.string()};
    std::vector<char*> pointers = ExecArgv(argv);
    std::string path = "PATH=/usr/bin:/bin";
    char* environment[] = {path.data(), nullptr};
    const std::string quote = std::string(QuoteRoute) + "?qt=3299.t&sv=MN&pg=mn_schart.html";
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execve(pointers[0], pointers.data(), environment);
        ::_exit(127);
    }
    bool answered = false;
    // Bounded: ten seconds of attempts.
    while (!answered && std::chrono::steady_clock::now() - started < std::chrono::seconds(10)) {
        httplib::Client probe(Loopback, port);
        probe.set_connection_timeout(1, 0);
        const httplib::Result result = probe.Get(quote);
        // The not-found page is a 200 too: the first page counts when it is the stock's quote.
        answered = result && result->status == 200 && result->body.find(NotFoundText) == std::string::npos;
        if (!answered)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double firstPage = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("service start-up: first page answered %.0f ms after exec%s (target: within 1 s)\n", firstPage * 1e3,
                answered ? "" : " (NO ANSWER within 10 s)");
    if (answered) {
        // The program's ranges: a daily page of about four months, a weekly one of 330 days.
        const struct
        {
            const char* Name;
            std::string Path;
        } pages[] = {
            {"quote", quote},
            {"daily", std::string(HistoryRoute) + "?sv=MN&qt=3299.t&sy=2025&sm=10&sd=06&ey=2026&em=02&ed=06&k=d"},
            {"weekly", std::string(HistoryRoute) + "?sv=MN&qt=3299.t&sy=2025&sm=03&sd=13&ey=2026&em=02&ed=06&k=w"},
        };
        httplib::Client client(Loopback, port);
        client.set_keep_alive(true);
        constexpr int Requests = 3000;
        for (const auto& page : pages) {
            size_t bytes = 0;
            int good = 0;
            const double before = ProcessCpuSeconds(pid);
            for (int i = 0; i < Requests; ++i) {
                const httplib::Result result = client.Get(page.Path);
                if (result && result->status == 200 && result->body.find(NotFoundText) == std::string::npos) {
                    ++good;
                    bytes = result->body.size();
                }
            }
            const double cpu = ProcessCpuSeconds(pid) - before;
            std::printf("service page %-6s: %d of %d answered, %zu bytes, %.3f ms of service CPU a page "
                        "(target: < 0.3 ms)\n",
                        page.Name, good, Requests, bytes, cpu * 1e3 / Requests);
        }
    }
    std::printf("service peak memory: %ld MB (target: < 500 MB)\n", StatusKb(pid, "VmHWM:") / 1024);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: fetch_bench <orvanta-service binary> [work folder]\n");
        return 64;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string service = argv[1];
    const std::filesystem::path work = argc > 2 ? argv[2] : std::filesystem::temp_directory_path() / "orvanta_fetch_bench";
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work);

    const TDate last{2026, 2, 6};
    const TDate first = FirstDayFor(last, TradingDays);
    TStandinMarket market = TStandinMarket::Generated(Stocks, first, last);
    const auto days = market.TradingDays();
    const TDate from = days[days.size() - TradingDays];
    TJQuantsStandin standin(std::move(market), PageSize);
    std::printf("market: %d stocks, %d trading days %s..%s, %zu records a page\n", Stocks, TradingDays,
                Dashed(from).c_str(), Dashed(last).c_str(), PageSize);

    // The JSON library's share: one whole day of the market parsed and checked.
    {
        volatile std::sig_atomic_t never = 0;
        TJQuantsClient client(standin.Url(), TJQuantsStandin::Key, &never);
        std::string body;
        size_t rows = 0;
        double best = 1e9;
        for (int run = 0; run < 5; ++run) {
            double seconds = 0;
            rows = 0;
            std::string key;
            do {
                TApiQuery query = {{"date", Dashed(last)}};
                if (!key.empty())
                    query.emplace_back("pagination_key", key);
                const TApiAnswer answer = client.Get("/equities/bars/daily", query);
                const double started = ThreadCpuSeconds();
                const std::optional<TBarsPage> page = ParseBarsPage(answer.Body);
                seconds += ThreadCpuSeconds() - started;
                if (!page)
                    return 1;
                rows += page->Rows.size();
                body = answer.Body;
                key = page->NextPage;
            } while (!key.empty());
            best = std::min(best, seconds);
        }
        std::printf("JSON (nlohmann-json): a day of %zu records parsed and checked in %.1f ms CPU (%.0f bytes a record)\n",
                    rows, best * 1e3, static_cast<double>(body.size()) / PageSize);
    }

    const std::filesystem::path data = work / "data";
    const size_t before = standin.RequestCount();
    const TChildUsage fetch = RunChild({service, "--data", data.string(), "--fetch", "--source", standin.Url(),
                                        "--from", Dashed(from), "--to", Dashed(last), "--rate", "10000"},
                                       TJQuantsStandin::Key);
    const size_t requests = standin.RequestCount() - before;
    std::printf("fetch: exit %d, %zu requests, wall %.1f s, local work (fetch CPU) %.2f s = %.1f ms a day "
                "(target: whole load < 30 s), peak %ld MB\n",
                fetch.Exit, requests, fetch.WallSeconds, fetch.CpuSeconds, fetch.CpuSeconds * 1e3 / TradingDays,
                fetch.PeakKb / 1024);

    // Loading the stored bars, as the service does to make its pages' data, in a child of its own
    // so its peak memory is its own.
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return 1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::vector<double> times;
        size_t count = 0, rows = 0;
        // Process CPU time: the machine may be shared, and the load is the service's own work.
        const auto cpuNow = [] {
            timespec now{};
            ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
            return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
        };
        for (int run = 0; run < 3; ++run) {
            const double begin = cpuNow();
            const std::map<std::string, TRawDays> loaded = LoadRawDays(data);
            times.push_back(cpuNow() - begin);
            count = loaded.size();
            rows = 0;
            for (const auto& [code, stockDays] : loaded)
                rows += stockDays.size();
        }
        char line[256];
        const int length = std::snprintf(line, sizeof line, "%zu %zu %.4f %.4f", count, rows, times[0],
                                         *std::min_element(times.begin() + 1, times.end()));
        if (::write(pipeFds[1], line, static_cast<size_t>(length)) < 0)
            ::_exit(1);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char buffer[256] = {};
    const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer - 1);
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    size_t count = 0, rows = 0;
    double firstLoad = 0, warmLoad = 0;
    if (got > 0)
        std::sscanf(buffer, "%zu %zu %lf %lf", &count, &rows, &firstLoad, &warmLoad);
    size_t chunks = 0;
    for (const auto& entry : std::filesystem::directory_iterator(data / "bars"))
        chunks += entry.path().extension() == ".chunk" ? 1 : 0;
    std::printf("LoadRawDays: %zu stocks, %zu rows from %zu chunk file(s): CPU first %.0f ms, "
                "warm best %.0f ms (target: well within 1 s), peak %ld MB\n",
                count, rows, chunks, firstLoad * 1e3, warmLoad * 1e3, usage.ru_maxrss / 1024);
    std::uintmax_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(data / "bars"))
        if (entry.is_regular_file())
            bytes += entry.file_size();
    std::printf("bars on disk: %.1f MB\n", static_cast<double>(bytes) / 1e6);
    if (fetch.Exit == 0)
        MeasureServing(service, data);
    std::filesystem::remove_all(work);
    return fetch.Exit == 0 ? 0 : 1;
}
