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

QString PlanText(const TDataPlan& plan)
{
    const QString from =
        plan.YearsBack > 0 ? QStringLiteral("%1年前から").arg(plan.YearsBack) : QStringLiteral("データのある全期間、");
    const QString to = plan.HeldBackDays > 0 ? QStringLiteral("%1週前まで").arg(plan.HeldBackDays / 7)
                                             : QStringLiteral("最新の日まで");
    return QStringLiteral("%1プラン：%2%3の日足（毎分%4回まで）")
        .arg(QLatin1String(plan.Caption), from, to, QString::number(plan.RequestsPerMinute));
}

QString KeySiteHtml()
{
    const QString site = QLatin1String(DataApiSite);
    return QStringLiteral("キーは <a href=\"%1\">%1</a> で利用登録してプランを選ぶと発行されます。"
                          "Freeプランは1年間有効で、もう一度登録すると更新できます。")
        .arg(site);
}

QString ProgressText(const TFetchProgress& progress, bool ended)
{
    // A line read by ParseFetchProgress holds no figure but the rows over 10^9.
    const QString done = QStringLiteral("%1 / %2日　%3リクエスト済み")
                             .arg(Grouped(progress.DaysDone), Grouped(progress.DaysTotal), Grouped(progress.Requests));
    if (ended)
        return done;
    return done + QStringLiteral("（残り約%1）　残り%2")
                      .arg(Grouped(progress.RequestsLeft), DurationText(static_cast<int>(progress.SecondsLeft)));
}

namespace {

// A child whose end line gives no reason: what its exit status and last HTTP status tell.
TFetchReason ReasonOf(int exitStatus, int lastHttpStatus, const std::optional<TFetchEnd>& end)
{
    if (end && end->Reason != TFetchReason::Unknown)
        return end->Reason;
    switch (exitStatus)
    {
    case ServiceExitSuccess:
        return TFetchReason::Done;
    case ServiceExitLocalFailure:
        return TFetchReason::LocalFailure;
    case ServiceExitOfSignal(SIGINT):
    case ServiceExitOfSignal(SIGTERM):
        return TFetchReason::Interrupted;
    case ServiceExitSourceStopped:
        return lastHttpStatus == 403   ? TFetchReason::KeyRefused
               : lastHttpStatus == 429 ? TFetchReason::RateLimited
                                       : TFetchReason::SourceFailed;
    default:
        return TFetchReason::Unknown;
    }
}

QString Counts(const TFetchEnd& end)
{
    QString text =
        QStringLiteral("%1日分、%2銘柄、%3行。").arg(Grouped(end.Days), Grouped(end.Stocks), Grouped(end.Rows));
    if (end.Refused > 0)
        text += QStringLiteral("（内容のおかしい%1行は保存していません）").arg(Grouped(end.Refused));
    return text;
}

// What this fetch kept: every answer is stored as it comes, so all it brought.
QString Kept(const std::optional<TFetchEnd>& end)
{
    if (!end)
        return QStringLiteral("それまでに取得した分は保存されています。");
    if (end->Rows == 0)
        return QStringLiteral("今回は何も保存していません。これまでのデータはそのままです。");
    return QStringLiteral("今回取得した%1日分（%2行）は保存されています。").arg(Grouped(end->Days), Grouped(end->Rows));
}

// What happened, for every ending but a complete fetch.
QString WhatHappened(TFetchReason reason)
{
    switch (reason)
    {
    case TFetchReason::Done:
    case TFetchReason::PlanEnd:
        break;
    case TFetchReason::NoNetwork:
        return QStringLiteral(
            "データ提供元に接続できませんでした（ネットワークにつながっていないか、サーバーに届きません）。"
            "ネットワークとプロキシーの設定を確かめてください。");
    case TFetchReason::KeyRefused:
        return QStringLiteral("APIキーが拒否されました（403）。キーが誤っているか期限切れです。");
    case TFetchReason::OutsidePlan:
        return QStringLiteral(
            "選んだプランの範囲外のデータとして拒否されました（403）。プランの選択を確かめてください。");
    case TFetchReason::RateLimited:
        return QStringLiteral(
            "APIの利用回数の上限で繰り返し拒否されました（429）。数分待ってからもう一度取得してください。");
    case TFetchReason::SourceFailed:
        return QStringLiteral(
            "データ提供元がエラーを返したため取得を止めました。しばらくしてからもう一度取得してください。");
    case TFetchReason::LocalFailure:
        return QStringLiteral(
            "データを保存できませんでした（ディスクの空きや書き込み権限、ほかの取得が動いていないかを確かめてください）。");
    case TFetchReason::Interrupted:
        return QStringLiteral("中止しました。");
    case TFetchReason::Unknown:
        break;
    }
    return QStringLiteral("取得が異常終了しました。");
}

} // namespace

QString OutcomeText(int exitStatus, int lastHttpStatus, const std::optional<TFetchEnd>& end, const QString& lastError)
{
    const TFetchReason reason = ReasonOf(exitStatus, lastHttpStatus, end);
    if (reason == TFetchReason::Done && exitStatus == ServiceExitSuccess)
        return end ? QStringLiteral("取得が終わりました：") + Counts(*end) : QStringLiteral("取得が終わりました。");
    QString text;
    if (exitStatus == ServiceExitUsage)
        text = QStringLiteral("APIキーがないか、キーのファイルを使えません。キーを入力し直してください。");
    else if (reason == TFetchReason::PlanEnd)
        text = QStringLiteral("プランで取得できる最新の日まで取得しました") +
               (end ? QStringLiteral("：") + Counts(*end) : QStringLiteral("。")) +
               QStringLiteral("それより新しい日はプランの範囲外です。");
    else
        text = WhatHappened(reason) + Kept(end);
    if (!lastError.isEmpty())
        text += QLatin1Char('\n') + lastError;
    return text;
}
