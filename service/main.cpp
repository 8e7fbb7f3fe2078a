// orvanta-service: the bundled stand-in for the finance web service, on loopback.

#include "http/finance_service.h"
#include "sources/fetch_command.h"
#include "sources/listing_import.h"
#include "sources/rate_limit.h"
#include "sources/price_import.h"
#include "market/data_layers.h"
#include "market/live_market.h"
#include "market/market_db_check.h"
#include "market/market.h"

#include "common/data_folders.h"
#include "common/terminal_text.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

std::string Usage()
{
    return "使い方: orvanta-service [--port N] [--data DIR] [--latency MS] [--raw-prices]\n"
           "        orvanta-service [--port N] --check\n"
           "        orvanta-service [--data DIR] --import FOLDER [--replace]\n"
           "        orvanta-service [--data DIR] --make-list\n"
           "        orvanta-service [--data DIR] --listing FILE\n"
           "        orvanta-service [--data DIR] --check-data\n"
           "        orvanta-service [--data DIR] --fetch [...]   (--fetch --help を参照)\n"
           "DIR の銘柄の株価ページと時系列ページを " +
           std::string(ServiceHost) + ":N (既定 " + std::to_string(DefaultServicePort) +
           ") で配信します。\n"
           "--data がなければ同梱のサンプル市場に利用者のデータを重ねて配信します。利用者のデータは\n"
           "$XDG_DATA_HOME/orvanta/service (既定 ~/.local/share/orvanta/service) にあり、\n"
           "--import と --make-list はそこへ書き込みます。\n"
           "  --port N       配信する、または確かめるポート (0 なら空いているポートで配信し、アドレスの行に示す)\n"
           "  --data DIR     このデータフォルダーだけを読み書きする\n"
           "  --latency MS   どの応答も MS ミリ秒 (0〜60000) 遅らせる (遠くのサービスの代わりに)\n"
           "  --raw-prices   実データを売買された値段のまま配信し、権利落ち日ごとに株式分割の行を入れる\n"
           "                 (既定は後の分割・併合で調整した値段)\n"
           "  --check        そのポートでこの利用者自身のサービスが応答していれば 0、いなければ 1 で終わる\n"
           "  --import DIR   フォルダーの日足 CSV (<コード>.csv: Date,Open,High,Low,Close,Volume) を\n"
           "                 取り込む。ファイルにある日はその日を置き換え、ほかの日は残す\n"
           "  --replace      --import で、各銘柄の履歴をファイルの内容で丸ごと置き換える\n"
           "  --make-list    データフォルダーの stocks.csv から KabuList.dat を作る\n"
           "  --listing FILE 取引所の上場銘柄一覧 (data_j.xls、data_j.xlsx またはその CSV) から\n"
           "                 データフォルダーの銘柄マスターを作る (そのフォルダーは以後実データを持つ)\n"
           "  --check-data   データフォルダーの market.db を全部調べる (SQLite の quick_check と、表 stocks と\n"
           "                 daily_bars のすべての行)。見つけたことを表示し、問題がなければ 0、あれば 1 で終わる\n"
           "  -h, --help     この説明を表示する\n"
           "終了コード: " +
           std::to_string(ServiceExitSuccess) + " 成功、" + std::to_string(ServiceExitLocalFailure) + " 手元の失敗、" +
           std::to_string(ServiceExitSourceStopped) + " データ元による中止、" + std::to_string(ServiceExitUsage) +
           " コマンドラインの誤り、\n" + std::to_string(ServiceExitOfSignal(SIGINT)) + " と " +
           std::to_string(ServiceExitOfSignal(SIGTERM)) + " は SIGINT と SIGTERM による中断\n";
}

//! A message for a person on stderr: outside text in it is escaped by TerminalText.
void Say(const std::string& message)
{
    std::fprintf(stderr, "orvanta-service: %s\n", TerminalText(message).c_str());
}

int BadCommandLine(const std::string& message)
{
    Say(message);
    std::fputs(Usage().c_str(), stderr);
    return ServiceExitUsage;
}

// The signal that asked an import to stop; the import ends after the file under way.
volatile std::sig_atomic_t StopSignal = 0;

void NoteStopSignal(int signal)
{
    StopSignal = signal;
}

bool ReadPort(const char* text, int& port)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 65535)
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
    TLiveMarket live(layers, rawPrices, [](const std::string& warning) { Say(warning); });

    // SIGINT and SIGTERM are taken by one thread that stops the server, because stopping
    // it from a signal handler is not async-signal-safe. Block them before threads start.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TFinanceService service([&live] { return live.Current(); }, LocalToday);
    service.SetDataFolder(layers.back());
    // A status asked for right after a fetch must not name the new data while the pages still
    // come from the old: the client would keep those pages under the new version all day.
    service.SetDataVersion([&live] { return live.ServedVersion(); });
    if (latency.count() > 0)
        service.SetLatency(latency);
    bool bound = false;
    if (port == 0) {
        port = service.BindAnyPort();
        if (port < 0) {
            Say(std::string("空いているポートが ") + ServiceHost + " にありません");
            return ServiceExitLocalFailure;
        }
        bound = true;
    }
    const std::string address = std::string(ServiceHost) + ':' + std::to_string(port);
    if (!bound && !service.Bind(port)) {
        if (ServiceAnswers(port)) {
            Say(address + " ではすでにサービスが動いています");
            return ServiceExitSuccess;
        }
        Say(address + " で待ち受けられません (ほかのプログラムがポートを使っていませんか)");
        return ServiceExitLocalFailure;
    }
    std::atomic<bool> served{false};
    std::atomic<int> stoppedBy{0};
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        // A signal during start-up comes before the server runs, when Stop() would not reach it.
        while (!served && !service.IsRunning())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!served) {
            stoppedBy = signal;
            service.Stop();
        }
    });
    Say(std::to_string(live.Current()->Stocks().size()) + " 銘柄 (" + FolderNames(layers) +
        (live.Current()->Real() ? "、実データ" : "") + ")、http://" + address);
    // A one-shot command's new data is picked up within a second of its data-version bump.
    live.Watch(std::chrono::seconds(1));
    service.Serve();
    served = true;
    // Serve() also returns when listening fails: wake the stopper so it can be joined. Sent to
    // the process, the signal stays pending and harmless when the stopper is already gone.
    kill(getpid(), SIGTERM);
    stopper.join();
    if (stoppedBy == 0) {
        Say("接続を受け付けられなくなったため終了します");
        return ServiceExitLocalFailure;
    }
    Say("停止しました");
    return ServiceExitOfSignal(stoppedBy);
}

int Import(const std::filesystem::path& from, const std::filesystem::path& target, bool replace)
{
    // Stopped between files, so every file is imported whole or not at all.
    struct sigaction action{};
    action.sa_handler = NoteStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    TImportOptions options;
    options.Replace = replace;
    options.Interrupted = [] { return StopSignal != 0; };
    const int refused = ImportPriceFolder(from, target, std::cout, options);
    std::cout << TerminalText("取り込み先: " + target.string()) << '\n';
    if (StopSignal != 0)
        return ServiceExitOfSignal(StopSignal);
    return refused == 0 ? ServiceExitSuccess : ServiceExitLocalFailure;
}

int CheckData(const std::filesystem::path& folder)
{
    const TDbCheck check = CheckMarketDb(folder, LocalToday());
    for (const std::string& line : check.Lines)
        std::cout << TerminalText(line) << '\n';
    return check.Sound ? ServiceExitSuccess : ServiceExitLocalFailure;
}

} // namespace

int main(int argc, char** argv)
{
    if (IsFetchCommand(argc, argv))
    {
        TSteadyClock clock;
        return RunFetchCommand(argc, argv, clock);
    }
    int port = DefaultServicePort;
    std::filesystem::path dataDir;
    std::filesystem::path importFrom;
    std::filesystem::path listing;
    bool check = false;
    bool checkData = false;
    bool makeList = false;
    bool replace = false;
    bool rawPrices = false;
    std::chrono::milliseconds latency{0};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valueOption = arg == "--port" || arg == "--data" || arg == "--latency" || arg == "--import" ||
                                 arg == "--listing";
        if (valueOption && i + 1 >= argc)
            return BadCommandLine(arg + " の後に値がありません");
        const char* value = valueOption ? argv[++i] : "";
        if (arg == "--port") {
            if (!ReadPort(value, port))
                return BadCommandLine("--port の値 \"" + std::string(value) + "\" は 0〜65535 の数ではありません (0 は空いているポート)");
        } else if (arg == "--data") {
            if (value[0] == '\0')
                return BadCommandLine("--data の値が空です");
            dataDir = value;
        } else if (arg == "--latency") {
            if (!ReadLatency(value, latency))
                return BadCommandLine("--latency の値 \"" + std::string(value) + "\" は 0〜60000 の数ではありません");
        } else if (arg == "--import") {
            if (value[0] == '\0')
                return BadCommandLine("--import の値が空です");
            importFrom = value;
        } else if (arg == "--listing") {
            if (value[0] == '\0')
                return BadCommandLine("--listing の値が空です");
            listing = value;
        } else if (arg == "--raw-prices") {
            rawPrices = true;
        } else if (arg == "--replace") {
            replace = true;
        } else if (arg == "--check") {
            check = true;
        } else if (arg == "--check-data") {
            checkData = true;
        } else if (arg == "--make-list") {
            makeList = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(Usage().c_str(), stdout);
            return ServiceExitSuccess;
        } else {
            return BadCommandLine("\"" + arg + "\" は知らない引数です");
        }
    }
    if ((check ? 1 : 0) + (checkData ? 1 : 0) + (makeList ? 1 : 0) + (importFrom.empty() ? 0 : 1) +
            (listing.empty() ? 0 : 1) >
        1)
        return BadCommandLine("--check、--check-data、--import、--make-list、--listing は一度に一つだけ指定できます");
    if (replace && importFrom.empty())
        return BadCommandLine("--replace は --import と一緒に指定します");

    try {
        if (check)
            return ServiceAnswers(port) ? 0 : 1;
        const TDataLayers layers = dataDir.empty()
                                       ? DefaultDataLayers(SampleMarketFolder(ExecutablePath()), PerUserFolder())
                                       : TDataLayers{dataDir};
        if (checkData)
            return CheckData(layers.back());
        if (!listing.empty()) {
            ImportListing(listing, layers.back(), std::cout);
            return ServiceExitSuccess;
        }
        if (makeList) {
            MakeKabuList(WritableLayer(layers));
            return ServiceExitSuccess;
        }
        if (!importFrom.empty())
            return Import(importFrom, WritableLayer(layers), replace);
        return Serve(layers, port, latency, rawPrices);
    } catch (const std::exception& error) {
        Say(error.what());
        return ServiceExitLocalFailure;
    }
}
