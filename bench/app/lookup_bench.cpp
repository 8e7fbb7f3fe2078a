// The whole chart chain of one stock through the real window, offscreen, from a warm cache:
// "表示" runs GetKabuKa and RefreshChart. Prints stocks per second and memory.
// Usage: lookup_bench [lookups, default 2000]

#include "bench_service.h"

#include "app/application.h"
#include "app/window/main_form.h"
#include "data/web_page.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>

int main(int argc, char** argv)
{
    const int lookups = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int stocks = 20;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::setenv("no_proxy", "127.0.0.1", 1);
    TOrvantaApplication application(argc, argv);

    bench::TBenchMarket market(std::filesystem::temp_directory_path() / ("orvanta_lookup_bench_" + std::to_string(::getpid())), stocks);
    SetFinanceServiceAddress(market.Address());
    std::filesystem::current_path(market.Work());
    bench::TBenchDialogs dialogs;
    dialogs.Print = false;
    const int& messages = dialogs.Messages;

    TMainForm form(dialogs);
    form.show();
    const auto lookUp = [&](int i) {
        form.KabuNoEdit->setText(QString::number(1300 + i % stocks));
        form.KabuNoButton->click();
    };
    for (int i = 0; i < stocks; ++i)
        lookUp(i); // fills today's cache
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < lookups; ++i)
        lookUp(i);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    std::printf("warm lookups (quote + weekly chart chain): %d in %.2f s = %.0f stocks/s; %d message boxes\n",
                lookups, seconds, lookups / seconds, messages);
    std::printf("RSS %ld KiB, peak %ld KiB\n", bench::CurrentRssKiB(), bench::PeakRssKiB());
    return messages == 0 ? 0 : 1;
}
