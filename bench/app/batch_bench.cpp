// The unattended screening run (orvanta --screen 全て --out DIR) over a market served by
// orvanta-service on loopback: once cold (every page fetched), once warm (every page from
// today's cache). Prints the time of each run, its page counts and the size of its report.
// Usage: batch_bench [stocks; default: the bundled sample market]

#include "bench_service.h"

#include "app/application.h"
#include "app/batch/batch_run.h"
#include "app/window/main_form.h"
#include "data/web_page.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <memory>

namespace {

struct TFolderSize
{
    std::uintmax_t Bytes = 0;
    int Files = 0;
};

TFolderSize FolderSize(const std::filesystem::path& folder)
{
    TFolderSize size;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
        {
            size.Bytes += entry.file_size();
            ++size.Files;
        }
    return size;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::setenv("no_proxy", "127.0.0.1", 1);
    TOrvantaApplication application(argc, argv);

    const std::filesystem::path root = std::filesystem::temp_directory_path() / ("orvanta_batch_bench_" + std::to_string(::getpid()));
    std::unique_ptr<bench::TBenchMarket> market;
    if (argc > 1)
        market = std::make_unique<bench::TBenchMarket>(root, std::atoi(argv[1]));
    else
        market = std::make_unique<bench::TBenchMarket>(root, std::filesystem::path(ORVANTA_SAMPLE_DATA));
    SetFinanceServiceAddress(market->Address());
    std::filesystem::current_path(market->Work());

    TBatchConsole quiet;
    quiet.Write = [](const QString&) {};
    TBatchOptions options;
    options.Sector = QStringLiteral("全て");
    std::printf("batch run of %s, offscreen, service on loopback\n",
                argc > 1 ? (std::string(argv[1]) + " generated stocks").c_str() : "the sample market");
    for (const char* pass : {"cold", "warm"})
    {
        options.OutDir = QString::fromStdString((market->Work() / (std::string("report-") + pass)).string());
        TBatchRun run(options, quiet); // a fresh process's form, as each run of the command has
        QElapsedTimer clock;
        clock.start();
        const int status = run.Run();
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        QFile file(options.OutDir + QStringLiteral("/summary.json"));
        file.open(QIODevice::ReadOnly);
        const QJsonObject summary = QJsonDocument::fromJson(file.readAll()).object();
        const QJsonObject pages = summary[QStringLiteral("pages")].toObject();
        const TFolderSize size = FolderSize(options.OutDir.toStdString());
        std::printf("%s: exit %d, %.2f s, %d entries, %d listed, pages fetched %lld, from the cache %lld; report "
                    "%.1f KiB in %d files; RSS %ld KiB\n",
                    pass, status, seconds, summary[QStringLiteral("entries")].toInt(),
                    summary[QStringLiteral("listed")].toInt(),
                    static_cast<long long>(pages[QStringLiteral("fetched")].toInteger()),
                    static_cast<long long>(pages[QStringLiteral("from_cache")].toInteger()),
                    static_cast<double>(size.Bytes) / 1024.0, size.Files, bench::CurrentRssKiB());
    }
    std::printf("peak RSS %ld KiB\n", bench::PeakRssKiB());
    return 0;
}
