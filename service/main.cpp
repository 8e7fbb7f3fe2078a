// orvanta-service: the bundled stand-in for the finance web service, on loopback.

#include "data_layers.h"
#include "finance_service.h"
#include "market.h"
#include "market/listing_import.h"
#include "market/live_market.h"
#include "price_import.h"

#include "common/data_folders.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* Usage =
    "usage: orvanta-service [--port N] [--data DIR] [--latency MS] [--raw-prices] [--check]\n"
    "       orvanta-service [--data DIR] --import FOLDER\n"
    "       orvanta-service [--data DIR] --make-list\n"
    "       orvanta-service [--data DIR] --listing FILE\n"
    "Serves the quote and history pages of the stocks in DIR on 127.0.0.1:N (default 18650).\n"
    "Without --data it serves the sample market with the user's own data laid over it, from\n"
    "$XDG_DATA_HOME/orvanta/service (default ~/.local/share/orvanta/service), where\n"
    "--import and --make-list write.\n"
    "  --port N       the port to serve on or to check\n"
    "  --data DIR     read and write this data folder only\n"
    "  --latency MS   delay every answer by MS milliseconds (0 to 60000), as a distant service\n"
    "  --raw-prices   real data with prices as traded, a split row on each ex-date, instead of\n"
    "                 prices adjusted for later splits\n"
    "  --check        exit 0 when a service already answers on the port, 1 otherwise\n"
    "  --import DIR   import the daily CSVs of a folder (<code>.csv: Date,Open,High,Low,Close,Volume)\n"
    "  --make-list    write the data folder's KabuList.dat from its stocks.csv\n"
    "  --listing FILE make the data folder's master from the exchange's list of listed issues\n"
    "                 (data_j.xls, data_j.xlsx or a CSV of it); the folder then holds real data\n"
    "  -h, --help     show this text\n";

bool ReadPort(const char* text, int& port)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 65535)
        return false;
    port = static_cast<int>(value);
    return true;
}

std::string FolderNames(const TDataLayers& layers)
{
    std::string names;
    for (const std::filesystem::path& layer : layers)
        names += (names.empty() ? "" : " + ") + layer.string();
    return names;
}

bool ReadLatency(const char* text, std::chrono::milliseconds& latency)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 60000)
        return false;
    latency = std::chrono::milliseconds(value);
    return true;
}

int Serve(const TDataLayers& layers, int port, std::chrono::milliseconds latency, bool rawPrices)
{
    TLiveMarket live(layers, rawPrices,
                     [](const std::string& warning) { std::fprintf(stderr, "orvanta-service: %s\n", warning.c_str()); });

    // SIGINT and SIGTERM are taken by one thread that stops the server, because stopping
    // it from a signal handler is not async-signal-safe. Block them before threads start.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TFinanceService service([&live] { return live.Current(); }, LocalToday);
    service.SetDataFolder(layers.back());
    if (latency.count() > 0)
        service.SetLatency(latency);
    if (!service.Bind(port)) {
        if (ServiceAnswers(port)) {
            std::fprintf(stderr, "orvanta-service: already running on %s:%d\n", ServiceHost, port);
            return 0;
        }
        std::fprintf(stderr, "orvanta-service: cannot listen on %s:%d (port in use?)\n", ServiceHost, port);
        return 1;
    }
    std::atomic<bool> served{false};
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        // A signal during start-up comes before the server runs, when Stop() would not reach it.
        while (!served && !service.IsRunning())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!served)
            service.Stop();
    });
    std::fprintf(stderr, "orvanta-service: %zu stocks (%s%s), http://%s:%d\n", live.Current()->Stocks().size(),
                 FolderNames(layers).c_str(), live.Current()->Real() ? ", real data" : "", ServiceHost, port);
    // A one-shot command's new data is picked up within a second of its data-version bump.
    live.Watch(std::chrono::seconds(1));
    service.Serve();
    served = true;
    // Serve() also returns when listening fails: wake the stopper so it can be joined. Sent to
    // the process, the signal stays pending and harmless when the stopper is already gone.
    kill(getpid(), SIGTERM);
    stopper.join();
    std::fprintf(stderr, "orvanta-service: stopped\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int port = DefaultServicePort;
    std::filesystem::path dataDir;
    std::filesystem::path importFrom;
    std::filesystem::path listing;
    bool check = false;
    bool makeList = false;
    bool rawPrices = false;
    std::chrono::milliseconds latency{0};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--port" && hasValue && ReadPort(argv[i + 1], port)) {
            ++i;
        } else if (arg == "--data" && hasValue && argv[i + 1][0] != '\0') {
            dataDir = argv[++i];
        } else if (arg == "--latency" && hasValue && ReadLatency(argv[i + 1], latency)) {
            ++i;
        } else if (arg == "--import" && hasValue) {
            importFrom = argv[++i];
        } else if (arg == "--listing" && hasValue && argv[i + 1][0] != '\0') {
            listing = argv[++i];
        } else if (arg == "--raw-prices") {
            rawPrices = true;
        } else if (arg == "--check") {
            check = true;
        } else if (arg == "--make-list") {
            makeList = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "orvanta-service: bad argument \"%s\"\n%s", arg.c_str(), Usage);
            return 2;
        }
    }

    try {
        if (check)
            return ServiceAnswers(port) ? 0 : 1;
        const TDataLayers layers = dataDir.empty()
                                       ? DefaultDataLayers(SampleMarketFolder(ExecutablePath()), PerUserFolder())
                                       : TDataLayers{dataDir};
        if (!listing.empty()) {
            ImportListing(listing, layers.back(), std::cout);
            return 0;
        }
        if (makeList) {
            MakeKabuList(WritableLayer(layers));
            return 0;
        }
        if (!importFrom.empty()) {
            const std::filesystem::path target = WritableLayer(layers);
            const int refused = ImportPriceFolder(importFrom, target, std::cout);
            std::cout << "imported into " << target.string() << '\n';
            return refused == 0 ? 0 : 1;
        }
        return Serve(layers, port, latency, rawPrices);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvanta-service: %s\n", error.what());
        return 1;
    }
}
