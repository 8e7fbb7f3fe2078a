#include "app/data_update/data_update.h"

#include "common/temp_file.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <charconv>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <system_error>

namespace {

constexpr const char* PlanFileName = "jquants-plan";

bool ReadNumber(std::string_view text, long long& value)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && value >= 0;
}

bool ReadInt(std::string_view text, int& value)
{
    long long wide = 0;
    if (!ReadNumber(text, wide) || wide > 1'000'000'000)
        return false;
    value = static_cast<int>(wide);
    return true;
}

// "key=value" words after an optional leading word; nothing when a word has no '='.
std::optional<std::map<std::string_view, std::string_view>> Fields(std::string_view line, std::string_view lead)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (!lead.empty())
    {
        if (line.substr(0, lead.size()) != lead || line.size() == lead.size() || line[lead.size()] != ' ')
            return std::nullopt;
        line.remove_prefix(lead.size() + 1);
    }
    std::map<std::string_view, std::string_view> fields;
    while (!line.empty())
    {
        const std::size_t space = line.find(' ');
        const std::string_view word = line.substr(0, space);
        line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        if (word.empty())
            continue;
        const std::size_t equals = word.find('=');
        if (equals == std::string_view::npos)
            return std::nullopt;
        fields[word.substr(0, equals)] = word.substr(equals + 1);
    }
    return fields;
}

using TFields = std::map<std::string_view, std::string_view>;

bool ReadField(const TFields& fields, std::string_view key, int& value)
{
    const auto field = fields.find(key);
    return field != fields.end() && ReadInt(field->second, value);
}

bool ReadField(const TFields& fields, std::string_view key, long long& value)
{
    const auto field = fields.find(key);
    return field != fields.end() && ReadNumber(field->second, value);
}

void EnsurePrivateFolder(const std::filesystem::path& folder)
{
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
}

QString Grouped(long long value)
{
    return QLocale(QLocale::Japanese, QLocale::Japan).toString(value);
}

QString SlashDate(const QString& isoDate)
{
    QString text = isoDate;
    return text.replace(QLatin1Char('-'), QLatin1Char('/'));
}

} // namespace

const std::array<TDataPlan, 4>& DataPlans()
{
    static const std::array<TDataPlan, 4> plans{{
        {"free", "Free", 5},
        {"light", "Light", 60},
        {"standard", "Standard", 120},
        {"premium", "Premium", 500},
    }};
    return plans;
}

const TDataPlan& DataPlanNamed(std::string_view name)
{
    for (const TDataPlan& plan : DataPlans())
        if (name == plan.Name)
            return plan;
    return DataPlans().front();
}

std::filesystem::path ConfigFolder(const char* xdgConfigHome, const char* home)
{
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/')
        return std::filesystem::path(xdgConfigHome) / "orvanta";
    if (home != nullptr && home[0] == '/')
        return std::filesystem::path(home) / ".config" / "orvanta";
    return {};
}

std::filesystem::path ApiKeyFile(const std::filesystem::path& configFolder)
{
    return configFolder / "jquants-api-key";
}

void SaveApiKey(const std::filesystem::path& configFolder, std::string_view key)
{
    EnsurePrivateFolder(configFolder);
    WriteFileReplacing(ApiKeyFile(configFolder), std::string(key) + '\n', TFileAccess::Private);
}

bool HasSavedApiKey(const std::filesystem::path& configFolder)
{
    std::error_code error;
    return std::filesystem::symlink_status(ApiKeyFile(configFolder), error).type() ==
           std::filesystem::file_type::regular;
}

const TDataPlan& RememberedPlan(const std::filesystem::path& configFolder)
{
    std::ifstream file(configFolder / PlanFileName);
    std::string name;
    std::getline(file, name);
    return DataPlanNamed(name);
}

void RememberPlan(const std::filesystem::path& configFolder, const TDataPlan& plan)
{
    EnsurePrivateFolder(configFolder);
    WriteFileReplacing(configFolder / PlanFileName, std::string(plan.Name) + '\n', TFileAccess::Private);
}

std::optional<TFetchProgress> ParseFetchProgress(std::string_view line)
{
    const auto fields = Fields(line, {});
    if (!fields || !fields->count("request") || !fields->count("days"))
        return std::nullopt;
    TFetchProgress progress;
    const std::string_view days = fields->at("days");
    const std::size_t slash = days.find('/');
    if (slash == std::string_view::npos || !ReadInt(days.substr(0, slash), progress.DaysDone) ||
        !ReadInt(days.substr(slash + 1), progress.DaysTotal))
        return std::nullopt;
    const auto read = [&](std::string_view key, auto& value) { return ReadField(*fields, key, value); };
    if (!read("request", progress.Requests) || !read("left", progress.RequestsLeft) || !read("rows", progress.Rows) ||
        !read("eta", progress.SecondsLeft) || !read("http", progress.HttpStatus))
        return std::nullopt;
    return progress;
}

std::optional<TFetchEnd> ParseFetchEnd(std::string_view line)
{
    const auto fields = Fields(line, "end");
    if (!fields)
        return std::nullopt;
    TFetchEnd end;
    const auto read = [&](std::string_view key, auto& value) { return ReadField(*fields, key, value); };
    if (!read("exit", end.ExitStatus) || !read("days", end.Days) || !read("stocks", end.Stocks) ||
        !read("rows", end.Rows) || !read("requests", end.Requests) || !read("refused", end.Refused))
        return std::nullopt;
    return end;
}

std::optional<TFetchOutlook> ParseFetchOutlook(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const auto count = [&](const char* key) { return object.value(QLatin1String(key)).toInt(-1); };
    TFetchOutlook outlook;
    outlook.HeldFirst = object.value(QLatin1String("held_first")).toString();
    outlook.HeldLast = object.value(QLatin1String("held_last")).toString();
    outlook.From = object.value(QLatin1String("from")).toString();
    outlook.To = object.value(QLatin1String("to")).toString();
    outlook.Stocks = count("stocks");
    outlook.Days = count("days");
    outlook.Requests = count("requests");
    outlook.Seconds = count("seconds");
    if (outlook.Stocks < 0 || outlook.Days < 0 || outlook.Requests < 0 || outlook.Seconds < 0)
        return std::nullopt;
    return outlook;
}

QString DurationText(int seconds)
{
    if (seconds < 60)
        return QStringLiteral("1分未満");
    const int minutes = (seconds + 30) / 60;
    if (minutes < 60)
        return QStringLiteral("約%1分").arg(minutes);
    if (minutes % 60 == 0)
        return QStringLiteral("約%1時間").arg(minutes / 60);
    return QStringLiteral("約%1時間%2分").arg(minutes / 60).arg(minutes % 60);
}

QString HeldText(const TFetchOutlook& outlook)
{
    if (outlook.HeldFirst.isEmpty() || outlook.HeldLast.isEmpty())
        return QStringLiteral("保有データ：なし");
    return QStringLiteral("保有データ：%1〜%2（%3銘柄）")
        .arg(SlashDate(outlook.HeldFirst), SlashDate(outlook.HeldLast), Grouped(outlook.Stocks));
}

QString OutlookText(const TFetchOutlook& outlook, const TDataPlan& plan)
{
    if (outlook.Days == 0 && outlook.Requests <= 1)
        return QStringLiteral("新しく取得する日はありません（%1プランの最新日まで取得済み）")
            .arg(QLatin1String(plan.Caption));
    return QStringLiteral("今回の取得：%1〜%2の%3日分、約%4リクエスト（%5プランの毎分%6回で%7）")
        .arg(SlashDate(outlook.From), SlashDate(outlook.To), Grouped(outlook.Days), Grouped(outlook.Requests),
             QLatin1String(plan.Caption), QString::number(plan.RequestsPerMinute), DurationText(outlook.Seconds));
}

QString ProgressText(const TFetchProgress& progress)
{
    return QStringLiteral("%1 / %2日　%3リクエスト済み（残り約%4）　残り%5")
        .arg(Grouped(progress.DaysDone), Grouped(progress.DaysTotal), Grouped(progress.Requests),
             Grouped(progress.RequestsLeft), DurationText(progress.SecondsLeft));
}

QString OutcomeText(int exitStatus, int lastHttpStatus, const std::optional<TFetchEnd>& end, const QString& lastError)
{
    QString text;
    switch (exitStatus)
    {
    case 0:
        text = end ? QStringLiteral("取得が終わりました：%1日分、%2銘柄、%3行。")
                         .arg(Grouped(end->Days), Grouped(end->Stocks), Grouped(end->Rows))
                   : QStringLiteral("取得が終わりました。");
        if (end && end->Refused > 0)
            text += QStringLiteral("（内容のおかしい%1行は保存していません）").arg(Grouped(end->Refused));
        break;
    case 2:
        if (lastHttpStatus == 403)
            text = QStringLiteral("APIキーが正しくないか、期限が切れているか、プランの範囲外のデータです。"
                                  "キーとプランを確かめてください。取得済みのデータは保存されています。");
        else if (lastHttpStatus == 429)
            text = QStringLiteral("APIの利用回数の上限に達しました。数分待ってからもう一度取得してください。"
                                  "取得済みのデータは保存されています。");
        else
            text = QStringLiteral("データ提供元が取得を止めました。しばらくしてからもう一度取得してください。"
                                  "取得済みのデータは保存されています。");
        break;
    case 64:
        text = QStringLiteral("APIキーがないか、キーのファイルを使えません。キーを入力し直してください。");
        break;
    case 130:
    case 143:
        text = QStringLiteral("中止しました。ここまでに取得したデータは保存されています。");
        break;
    case 1:
        text = QStringLiteral("データを保存できませんでした（ディスクの空きや書き込み権限を確かめてください）。");
        break;
    default:
        text = QStringLiteral("取得が異常終了しました。取得済みのデータは保存されています。");
        break;
    }
    if (exitStatus != 0 && !lastError.isEmpty())
        text += QLatin1Char('\n') + lastError;
    return text;
}
