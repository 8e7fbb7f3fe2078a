#include "app/data_update/data_update.h"

#include "common/temp_file.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <system_error>

namespace {

constexpr const char* PlanFileName = "jquants-plan";

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

const TDataPlan& DataPlanNamed(std::string_view name)
{
    const TDataPlan* plan = FindDataPlan(name);
    return plan ? *plan : DataPlans.front();
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

std::optional<TFetchOutlook> ParseFetchOutlook(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const auto text = [&](const char* key) { return object.value(QLatin1String(key)).toString(); };
    const auto count = [&](const char* key) { return object.value(QLatin1String(key)).toInt(-1); };
    TFetchOutlook outlook;
    outlook.HeldFirst = text(OutlookHeldFirstField);
    outlook.HeldLast = text(OutlookHeldLastField);
    outlook.From = text(OutlookFromField);
    outlook.To = text(OutlookToField);
    outlook.Stocks = count(OutlookStocksField);
    outlook.Days = count(OutlookDaysField);
    outlook.Requests = count(OutlookRequestsField);
    outlook.Seconds = count(OutlookSecondsField);
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
    // A line read by ParseFetchProgress holds no figure but the rows over 10^9.
    return QStringLiteral("%1 / %2日　%3リクエスト済み（残り約%4）　残り%5")
        .arg(Grouped(progress.DaysDone), Grouped(progress.DaysTotal), Grouped(progress.Requests),
             Grouped(progress.RequestsLeft), DurationText(static_cast<int>(progress.SecondsLeft)));
}

QString OutcomeText(int exitStatus, int lastHttpStatus, const std::optional<TFetchEnd>& end, const QString& lastError)
{
    QString text;
    switch (exitStatus)
    {
    case ServiceExitSuccess:
        text = end ? QStringLiteral("取得が終わりました：%1日分、%2銘柄、%3行。")
                         .arg(Grouped(end->Days), Grouped(end->Stocks), Grouped(end->Rows))
                   : QStringLiteral("取得が終わりました。");
        if (end && end->Refused > 0)
            text += QStringLiteral("（内容のおかしい%1行は保存していません）").arg(Grouped(end->Refused));
        break;
    case ServiceExitSourceStopped:
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
    case ServiceExitUsage:
        text = QStringLiteral("APIキーがないか、キーのファイルを使えません。キーを入力し直してください。");
        break;
    case ServiceExitOfSignal(SIGINT):
    case ServiceExitOfSignal(SIGTERM):
        text = QStringLiteral("中止しました。ここまでに取得したデータは保存されています。");
        break;
    case ServiceExitLocalFailure:
        text = QStringLiteral("データを保存できませんでした（ディスクの空きや書き込み権限を確かめてください）。");
        break;
    default:
        text = QStringLiteral("取得が異常終了しました。取得済みのデータは保存されています。");
        break;
    }
    if (exitStatus != ServiceExitSuccess && !lastError.isEmpty())
        text += QLatin1Char('\n') + lastError;
    return text;
}
