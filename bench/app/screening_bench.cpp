// Screens a generated market through the real window, offscreen, against orvanta-service on
// loopback: once cold (every page fetched), once warm (every page from today's cache).
// Prints stocks per second and memory. Usage: screening_bench [stocks, default 1000]

#include "bench_service.h"

#include "app/application.h"
#include "app/main_form.h"
#include "data/web_page.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTreeWidget>

#include <cstdio>

int main(int argc, char** argv)
{
    const int stocks = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::setenv("no_proxy", "127.0.0.1", 1);
    TOrvantaApplication application(argc, argv);

    bench::TBenchMarket market(std::filesystem::temp_directory_path() / "orvanta_screening_bench", stocks);
    SetFinanceServiceAddress(market.Address());
    std::filesystem::current_path(market.Work());
    TMainForm::MessageBoxHook = [](const TMessageBoxRequest& request) {
        std::fprintf(stderr, "message: %s\n", request.Text.toStdString().c_str());
    };

    TMainForm form;
    form.show();
    form.KabukaSearchWin->trigger();
    form.KabuSearchBox->setCurrentIndex(0); // the whole market
    std::printf("screening %d stocks through the window, offscreen, service on loopback\n", stocks);
    const long before = bench::CurrentRssKiB();
    for (const char* pass : {"cold", "warm"})
    {
        QElapsedTimer clock;
        clock.start();
        form.KabuSearchButton->click();
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        std::printf("%s: %d stocks in %.2f s = %.0f stocks/s, %d rows listed, RSS %ld KiB\n", pass, stocks, seconds,
                    stocks / seconds, form.KabuCodeList->topLevelItemCount(), bench::CurrentRssKiB());
    }
    std::printf("RSS before the runs %ld KiB, peak %ld KiB\n", before, bench::PeakRssKiB());
    return 0;
}
