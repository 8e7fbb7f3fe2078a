// Screens the sample market through the real window against orvanta-service on loopback,
// with fetch-ahead and without, side by side: cold (every page fetched) with the service
// answering after 0, 25 and 100 ms; warm (every page in today's cache); the warm run's floor,
// that is its processEvents calls plus painting the three panes, per stock; and the peak
// memory of a run over the sample list repeated, in a process of its own per column.
// The window is offscreen unless QT_QPA_PLATFORM says otherwise (xcb under xvfb-run).
// Usage: screening_bench [entries of the memory run, default 4000]
//        screening_bench --warm-only   (warm runs and the floor alone, for a profiler)

#include "bench_service.h"

#include "analysis/average_rsi.h"
#include "analysis/buy_signals.h"
#include "app/application.h"
#include "app/window/chart_pane.h"
#include "app/window/main_form.h"
#include "chart/chart_palette.h"
#include "chart/price_chart.h"
#include "chart/volume_chart.h"
#include "data/fetch_ahead.h"
#include "data/web_page.h"

#include <QAbstractEventDispatcher>
#include <QComboBox>
#include <QElapsedTimer>
#include <QCheckBox>
#include <QGuiApplication>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int Latencies[] = {0, 25, 100};
constexpr int WarmRepeats = 5; // the best of five: a shared machine slows single runs by a fifth and more
// The two columns: fetch-ahead at its default, and none.
constexpr int Columns[] = {DefaultFetchAheadConnections, 0};

// Of this process alone: another benchmark may be running beside it.
const std::filesystem::path Root =
    std::filesystem::temp_directory_path() / ("orvanta_screening_bench_" + std::to_string(::getpid()));

double Seconds(const QElapsedTimer& clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

void ClearCache()
{
    for (const auto& entry : std::filesystem::directory_iterator("dat"))
        std::filesystem::remove(entry.path());
}

int CacheFiles()
{
    const auto files = std::filesystem::directory_iterator("dat");
    return static_cast<int>(std::distance(begin(files), end(files)));
}

// Counts the processEvents calls: the event dispatcher reports "awake" once per call.
class TEventCount
{
public:
    TEventCount()
    {
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                         [this] { ++Count; });
    }
    std::uint64_t Count = 0;
};

struct TRun
{
    double Seconds = 0;
    int Rows = 0;
    std::uint64_t Events = 0;
};

TRun Screen(TMainForm& form, const TEventCount& events)
{
    const std::uint64_t before = events.Count;
    QElapsedTimer clock;
    clock.start();
    form.KabuSearchButton->click();
    return {Seconds(clock), form.KabuCodeList->topLevelItemCount(), events.Count - before};
}

// Painting the three panes of the stock on show, with the analysis passes between, as the
// chain runs them but without its event points. Seconds per stock.
double PaintPanes(TMainForm& form, int times)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < times; ++i)
    {
        TChartBars bars = form.ChartPane->ChartBars;
        TPaneScale chartScale;
        TPaneScale rsiScale;
        TBuySignalResult results;
        {
            QPainter chart(&form.ChartPane->ImageChart->Picture);
            QPainter rsi(&form.ChartPane->ImageRSI->Picture);
            DrawChartData(chart, rsi, bars, form.ChartPane->ChartCode, TChartLength::Weekly, TDecimal{form.ChartPane->KabuQuote.KabuKa, 4},
                          chartScale, rsiScale, {}, DefaultChartPalette());
            for (TAverageInstance line : {TAverageInstance::ShortWeek, TAverageInstance::LongWeek})
            {
                CalcAverageRsi(bars, line);
                DrawAverageRsiLines(chart, rsi, bars, line, chartScale, rsiScale, DefaultChartPalette());
            }
            const TBuySignalScan scan = FindBuySignals(bars, TChartLength::Weekly, results);
            DrawBuySignalMarkers(chart, chartScale, scan.Markers, {}, DefaultChartPalette());
        }
        QPainter volume(&form.ChartPane->ImageDekidaka->Picture);
        DrawDekidakaData(volume, bars, chartScale, {}, DefaultChartPalette());
    }
    return Seconds(clock) / times;
}

// Seconds for `calls` processEvents calls with the window as the run left it.
double PumpEvents(std::uint64_t calls)
{
    QElapsedTimer clock;
    clock.start();
    for (std::uint64_t i = 0; i < calls; ++i)
        QCoreApplication::processEvents();
    return Seconds(clock);
}

// One process per column, over `entries` entries of the sample list repeated: a cold run
// listing only signals on the newest week (few rows), then two warm runs listing every stock
// with a purchase. Prints the rows and the memory after each, so that growth can be set
// against the rows.
int MemoryRun(int entries, int connections)
{
    bench::TBenchMarket market(Root, std::filesystem::path(ORVANTA_SAMPLE_DATA));
    {
        std::ifstream in(market.Work() / "KabuList.dat", std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line[0] != ';')
                lines.push_back(line + "\n");
        in.close();
        std::ofstream out(market.Work() / "KabuList.dat", std::ios::binary | std::ios::trunc);
        for (int i = 0; i < entries; ++i)
            out << lines[static_cast<std::size_t>(i) % lines.size()];
    }
    SetFinanceServiceAddress(market.Address());
    SetFetchAheadConnections(connections);
    std::filesystem::current_path(market.Work());
    bench::TBenchDialogs dialogs;
    TMainForm form(dialogs);
    form.show();
    form.KabukaSearchWin->trigger();
    form.KabuSearchBox->setCurrentIndex(0);
    const TEventCount events;
    std::printf("  %d entries, fetch-ahead %d: RSS before the runs %ld KiB", entries, connections,
                bench::CurrentRssKiB());
    form.HitPutCheck->setChecked(true);
    const TRun few = Screen(form, events);
    std::printf(", after a cold run with %d rows %ld KiB", few.Rows, bench::CurrentRssKiB());
    form.HitPutCheck->setChecked(false);
    for (int pass = 0; pass < 2; ++pass)
    {
        const TRun warm = Screen(form, events);
        std::printf(", after a warm run with %d rows %ld KiB", warm.Rows, bench::CurrentRssKiB());
    }
    std::printf("\n");
    return 0;
}

// The peak resident memory of a memory run in a process of its own, in KiB.
long PeakOfMemoryRun(int entries, int connections)
{
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0)
    {
        const std::string entryText = std::to_string(entries);
        const std::string connectionText = std::to_string(connections);
        ::execl("/proc/self/exe", "screening_bench", "--memory-run", entryText.c_str(), connectionText.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::setenv("no_proxy", "127.0.0.1", 1);
    if (argc == 4 && std::strcmp(argv[1], "--memory-run") == 0)
    {
        TOrvantaApplication application(argc, argv);
        return MemoryRun(std::atoi(argv[2]), std::atoi(argv[3]));
    }
    const bool warmOnly = argc > 1 && std::strcmp(argv[1], "--warm-only") == 0;
    const int memoryEntries = argc > 1 && !warmOnly ? std::atoi(argv[1]) : 4000;
    TOrvantaApplication application(argc, argv);
    bench::TBenchDialogs dialogs;

    bench::TBenchMarket market(Root, std::filesystem::path(ORVANTA_SAMPLE_DATA));
    std::vector<std::unique_ptr<bench::TBenchService>> services;
    for (int latency : Latencies)
        services.push_back(std::make_unique<bench::TBenchService>(market.Data(), latency));
    std::filesystem::current_path(market.Work());

    TMainForm form(dialogs);
    form.show();
    form.KabukaSearchWin->trigger();
    form.KabuSearchBox->setCurrentIndex(0); // the whole list
    const TEventCount events;
    std::printf("screening the sample market through the window (%s), orvanta-service on loopback\n",
                QGuiApplication::platformName().toStdString().c_str());
    std::printf("%-24s %24s %24s\n", "", "fetch-ahead (4 at once)", "without");

    int stocks = 0;
    if (warmOnly)
    {
        SetFinanceServiceAddress(services[0]->Address());
        Screen(form, events); // fills the cache
        stocks = form.KabuReadBar->maximum();
    }
    for (std::size_t l = 0; l < std::size(Latencies) && !warmOnly; ++l)
    {
        SetFinanceServiceAddress(services[l]->Address());
        TRun runs[2];
        int pages[2] = {0, 0};
        for (int c = 0; c < 2; ++c)
        {
            SetFetchAheadConnections(Columns[c]);
            ClearCache();
            runs[c] = Screen(form, events);
            pages[c] = CacheFiles();
        }
        stocks = form.KabuReadBar->maximum(); // the entries of the list
        char label[32];
        std::snprintf(label, sizeof label, "cold, %d ms latency", Latencies[l]);
        std::printf("%-24s %22.2f s %22.2f s   %d stocks, %d and %d pages fetched, %d and %d rows\n", label,
                    runs[0].Seconds, runs[1].Seconds, stocks, pages[0], pages[1], runs[0].Rows, runs[1].Rows);
        if (Latencies[l] > 0)
        {
            // Every page waits for its answer when they are fetched one after another.
            const double bound = pages[1] * Latencies[l] / 1000.0;
            std::printf("%-24s %24.2f %24.2f   of the one-after-another bound, %d x %d ms = %.2f s\n", "", runs[0].Seconds / bound,
                        runs[1].Seconds / bound, pages[1], Latencies[l], bound);
        }
    }

    // Warm: the cache holds every page now. The best of a few runs, each against the floor
    // measured right after it in the same window state.
    SetFinanceServiceAddress(services[0]->Address());
    double warm[2] = {1e9, 1e9};
    double floor[2] = {1e9, 1e9};
    double pumpPerStock = 0;
    double paintPerStock = 0;
    std::uint64_t eventsPerRun = 0;
    for (int repeat = 0; repeat < WarmRepeats; ++repeat)
    {
        for (int c = 0; c < 2; ++c)
        {
            SetFetchAheadConnections(Columns[c]);
            const TRun run = Screen(form, events);
            const double pump = PumpEvents(run.Events) / stocks;
            const double paint = PaintPanes(form, stocks);
            warm[c] = std::min(warm[c], run.Seconds / stocks);
            if (pump + paint < floor[c])
            {
                floor[c] = pump + paint;
                if (c == 1)
                {
                    pumpPerStock = pump;
                    paintPerStock = paint;
                    eventsPerRun = run.Events;
                }
            }
        }
    }
    std::printf("%-24s %17.3f ms/stock %17.3f ms/stock   %.0f and %.0f stocks/s\n", "warm", warm[0] * 1e3, warm[1] * 1e3,
                1 / warm[0], 1 / warm[1]);
    std::printf("%-24s %17.3f ms/stock %17.3f ms/stock   %.0f processEvents calls per stock (%.3f ms) + painting "
                "the three panes (%.3f ms)\n",
                "floor", floor[0] * 1e3, floor[1] * 1e3, static_cast<double>(eventsPerRun) / stocks,
                pumpPerStock * 1e3, paintPerStock * 1e3);
    std::printf("%-24s %24.2f %24.2f\n", "warm / floor", warm[0] / floor[0], warm[1] / floor[1]);

    if (warmOnly)
        return 0;
    long peaks[2] = {0, 0};
    for (int c = 0; c < 2; ++c)
        peaks[c] = PeakOfMemoryRun(memoryEntries, Columns[c]);
    char label[40];
    std::snprintf(label, sizeof label, "peak RSS, %d entries", memoryEntries);
    std::printf("%-24s %20ld KiB %20ld KiB\n", label, peaks[0], peaks[1]);
    return 0;
}
