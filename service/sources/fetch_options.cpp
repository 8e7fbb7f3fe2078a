#include "sources/fetch_options.h"

#include "sources/jquants_client.h"

#include "market/bar_store.h"
#include "market/data_layers.h"

#include "common/data_folders.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::optional<long> ReadNumber(const std::string& text, long low, long high)
{
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<TDate> ReadDate(const std::string& text)
{
    return text.size() == 10 && text[4] == '-' ? ParseDate(text) : std::nullopt;
}

// "7203" and "130A" are asked as "72030" and "130A0"; five characters as they are.
std::vector<std::string> ReadCodes(const std::string& text)
{
    std::vector<std::string> codes;
    size_t start = 0;
    while (start <= text.size())
    {
        const size_t end = std::min(text.find(',', start), text.size());
        std::string code = text.substr(start, end - start);
        std::transform(code.begin(), code.end(), code.begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
        if (code.size() == 4)
            code += '0';
        if (!IsSourceCode(code))
            throw TFetchUsageError("\"" + text.substr(start, end - start) +
                                   "\" は銘柄コードではありません (7203、130A、25935 の形)");
        if (std::find(codes.begin(), codes.end(), code) == codes.end())
            codes.push_back(code);
        start = end + 1;
    }
    return codes;
}

//! The plans' names joined by `separator`: "free|light|standard|premium".
std::string PlanNames(const char* separator)
{
    std::string names;
    for (const TDataPlan& plan : DataPlans)
        names += (names.empty() ? "" : separator) + std::string(plan.Name);
    return names;
}

} // namespace

std::string FetchUsage()
{
    const TDataPlan& free = DataPlans.front();
    return "使い方: orvanta-service [--data DIR] --fetch [--plan " + PlanNames("|") +
           "]\n"
           "         [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--codes CODE,...] [--rate N]\n"
           "         [--source URL] [--progress-fd N] [--dry-run]\n"
           "J-Quants API から市場全体の日足を一日ずつデータフォルダーへ取得します。次からは新しい分だけを\n"
           "取得します。API キーは変数 " +
           ApiKeyVariable + " から、なければ\n" + ApiKeyFile("$XDG_CONFIG_HOME/orvanta").string() +
           " (モード 0600) から読みます。\n"
           "  --plan P         J-Quants のプラン: その回数制限と最新の日 (" +
           free.Name + ": 1 分に " + std::to_string(free.RequestsPerMinute) + " 回、" +
           std::to_string(free.HeldBackDays / 7) +
           " 週前まで)\n"
           "  --from, --to     取得する日の範囲 (既定: プランの最新の日とその 400 日前の間)\n"
           "  --codes C,...    代わりにこのコードの銘柄を一つずつ、範囲全体について取得する\n"
           "  --rate N         プランの回数ではなく 1 分に N 回までで要求する\n"
           "  --source URL     API のベースアドレス (既定 " +
           DefaultFetchSource +
           ")\n"
           "  --progress-fd N  要求ごとに 1 行を記述子 N にも書く\n"
           "  --dry-run        保存済みの日と取得で要求する内容を JSON で表示し、何も取得しない\n";
}

TFetchOptions ParseFetchOptions(int argc, char** argv)
{
    TFetchOptions options;
    bool hasData = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                throw TFetchUsageError(arg + " の後に値がありません");
            return argv[++i];
        };
        if (arg == "--fetch")
        {}
        else if (arg == "--help" || arg == "-h")
        {
            throw TFetchHelpAsked{};
        }
        else if (arg == "--dry-run")
        {
            options.DryRun = true;
        }
        else if (arg == "--data")
        {
            options.DataFolder = value();
            hasData = true;
        }
        else if (arg == "--plan")
        {
            options.Plan = FindDataPlan(value());
            if (options.Plan == nullptr)
                throw TFetchUsageError("--plan は " + PlanNames("、") + " のどれかです");
        }
        else if (arg == "--from" || arg == "--to")
        {
            const std::string text = value();
            const std::optional<TDate> date = ReadDate(text);
            if (!date)
                throw TFetchUsageError(arg + " の値 \"" + text + "\" は YYYY-MM-DD の形の日付ではありません");
            (arg == "--from" ? options.From : options.To) = date;
        }
        else if (arg == "--codes")
        {
            options.Codes = ReadCodes(value());
        }
        else if (arg == "--rate")
        {
            const std::optional<long> rate = ReadNumber(value(), 1, 10000);
            if (!rate)
                throw TFetchUsageError("--rate には 1 分あたりの要求の回数を 1〜10000 で指定します");
            options.Rate = static_cast<int>(*rate);
        }
        else if (arg == "--source")
        {
            options.Source = value();
            if (!options.Source.starts_with("https://") && !options.Source.starts_with("http://"))
                throw TFetchUsageError("--source には http か https のアドレスを指定します");
            if (!KeyTravelsSafelyTo(options.Source))
                throw TFetchUsageError(
                    "--source の " + options.Source +
                    " は暗号化されない http です: API キーが経路に見えてしまうので、https "
                    "のアドレスを指定してください (http はこのコンピューター自身のアドレスにだけ使えます)");
        }
        else if (arg == "--progress-fd")
        {
            const std::optional<long> fd = ReadNumber(value(), 0, 1 << 20);
            if (!fd || ::fcntl(static_cast<int>(*fd), F_GETFD) < 0)
                throw TFetchUsageError("--progress-fd には開いているファイル記述子を指定します");
            options.ProgressFd = static_cast<int>(*fd);
        }
        else
        {
            throw TFetchUsageError("\"" + arg + "\" は知らない引数です");
        }
    }
    if (options.From && options.To && *options.To < *options.From)
        throw TFetchUsageError("--from の日が --to の日より後です");
    if (!hasData)
    {
        const TDataLayers layers = DefaultDataLayers(SampleMarketFolder(ExecutablePath()), PerUserFolder());
        options.DataFolder = options.DryRun ? layers.back() : WritableLayer(layers);
    }
    return options;
}

std::string ReadApiKey(std::string& problem)
{
    std::string key;
    if (const char* fromEnvironment = std::getenv(ApiKeyVariable); fromEnvironment && fromEnvironment[0] != '\0')
    {
        key = fromEnvironment;
    }
    else
    {
        const std::filesystem::path folder = ConfigFolder();
        // Without a home folder a relative path would read a key from wherever the fetch started.
        if (folder.empty())
        {
            problem = std::string("API キーがありません: ") + ApiKeyVariable +
                      " を設定してください (ホームフォルダーがなく、キーのファイルの場所を決められません)";
            return {};
        }
        const std::filesystem::path file = ApiKeyFile(folder);
        // Not blocking: a FIFO in the key's place would otherwise hang the fetch until someone
        // writes to it.
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
        {
            problem = std::string("API キーがありません: ") + ApiKeyVariable + " を設定するか、キーを " +
                      file.string() + " (モード 0600) に書いてください。キーは J-Quants の無料アカウントでも得られます";
            return {};
        }
        struct stat info
        {};
        const bool known = ::fstat(fd, &info) == 0;
        if (!known || !S_ISREG(info.st_mode))
            problem = "キーのファイル " + file.string() + " は通常のファイルではありません" +
                      (known && S_ISFIFO(info.st_mode) ? " (FIFO)" : "") + ": キーだけを書いたファイルにしてください";
        else if (info.st_uid != ::geteuid())
            problem = "キーのファイル " + file.string() + " の持ち主はあなたではありません (uid " +
                      std::to_string(info.st_uid) + "): 自分のファイルとして作り直してください";
        else if ((info.st_mode & 077) != 0)
            problem = "キーのファイル " + file.string() + " はほかの利用者も読めます: chmod 600 " + file.string() +
                      " を実行してください";
        if (!problem.empty())
        {
            ::close(fd);
            return {};
        }
        char buffer[1024];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        ::close(fd);
        if (got > 0)
            key.assign(buffer, static_cast<size_t>(got));
        const size_t end = key.find_first_of("\r\n");
        key = key.substr(0, end);
    }
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
        key.pop_back();
    key.erase(0, key.find_first_not_of(" \t"));
    const bool printable = std::all_of(key.begin(), key.end(), [](char c) { return c > 0x20 && c < 0x7f; });
    if (key.empty() || !printable)
    {
        problem = key.empty()
                      ? "API キーが空です: J-Quants のダッシュボードからコピーしてください"
                      : "API キーにキーにはない文字があります: J-Quants のダッシュボードからもう一度コピーしてください";
        return {};
    }
    return key;
}
