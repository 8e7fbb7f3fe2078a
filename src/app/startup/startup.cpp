#include "app/startup/startup.h"

#include "app/startup/bundled_service.h"
#include "app/startup/startup_data.h"
#include "common/data_folders.h"
#include "data/fetch_ahead.h"
#include "data/web_page.h"

#include <QDir>

#include <cstdlib>
#include <unistd.h>

namespace {

QString PathText(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

} // namespace

TStartupEnvironment TStartupEnvironment::FromProcess()
{
    TStartupEnvironment environment;
    std::error_code ignored;
    environment.StartFolder = std::filesystem::current_path(ignored);
    environment.PerUserFolder = ::PerUserFolder();
    const std::filesystem::path executable = ExecutablePath();
    environment.SampleFolder = SampleMarketFolder(executable);
    if (const char* variable = std::getenv("ORVANTA_SERVICE_URL"))
        environment.ServiceUrlVariable = variable;
    environment.ProgramFolder = PathText(executable.parent_path());
    return environment;
}

TStartup::TStartup(const TCommandLine& commandLine, const TStartupEnvironment& environment,
                   const std::function<void(const QString&)>& warn)
{
    const TServiceAddress address = ChooseServiceAddress(
        commandLine.ServiceUrl, environment.ServiceUrlVariable ? environment.ServiceUrlVariable->c_str() : nullptr,
        environment.DefaultPort);
    const TWorkFolder work = ChooseWorkFolder(commandLine.WorkDir, environment.StartFolder, environment.PerUserFolder);
    if (!work.Passed.isEmpty())
        warn(work.Passed);
    if (work.Prepare &&
        !PrepareWorkFolder(work.Folder, StarterListFile(environment.PerUserFolder, environment.SampleFolder)))
        warn(QStringLiteral("銘柄リスト KabuList.dat の見本が見つからないため、%1 に置けませんでした。")
                 .arg(PathText(work.Folder)));
    // Every file of the program is named relative to the working folder.
    if (!QDir::setCurrent(PathText(work.Folder)))
        throw TStartupError(QStringLiteral("作業フォルダ %1 に移れません。").arg(PathText(work.Folder)));
    WorkFolder_ = work.Folder;

    SetFinanceServiceAddress(address.Url);
    if (commandLine.Connections)
        SetFetchAheadConnections(*commandLine.Connections);
    // Without an address the service is the user's own or the one started here: only a socket
    // of this user answers for it, also when another user's program takes the port later.
    const auto thisUser = static_cast<unsigned>(::geteuid());
    SetServiceOwner(address.Explicit ? std::nullopt : std::optional<unsigned>(thisUser));
    if (!address.Explicit)
        StartService(environment, warn);
    Status_ = TakeServiceData(WorkFolder_, FinanceServiceAddress(), warn);
    if (Status_.Own)
        SetServiceOwner(thisUser);
}

TStartup::~TStartup() = default;

void TStartup::StartService(const TStartupEnvironment& environment, const std::function<void(const QString&)>& warn)
{
    // The user's own service, started by hand or by another window, is used and never stopped;
    // the program is looked for only when one must be started.
    if (TBundledService::OwnStatusAt(environment.DefaultPort))
        return;
    const QString program = TBundledService::FindProgram(environment.ProgramFolder);
    if (program.isEmpty())
    {
        warn(QStringLiteral(
            "金融サービス orvanta-service が見つかりません。株価データは取得できません。\n"
            "orvanta-service を入れ直すか、動いている金融サービスのアドレスを --service で指定してください。"));
        return;
    }

    // Whatever holds the default port (another program, another user's service) is not asked
    // for pages: the program runs its own service on a port of its own.
    const QString log = PathText(WorkFolder_ / "service.log");
    int port = environment.DefaultPort;
    constexpr int Attempts = 3;
    for (int attempt = 0; attempt < Attempts; ++attempt)
    {
        if (TBundledService::PortTaken(port))
            port = TBundledService::FreeLoopbackPort();
        if (port == 0)
            break;
        auto service = std::make_unique<TBundledService>(program, port);
        bool logFailed = false;
        const TBundledService::TStart start = service->Start(log, environment.ServiceWait, logFailed);
        if (logFailed)
            warn(QStringLiteral("金融サービスの記録 %1 を作れないため、記録なしで起動します。").arg(log));
        // Someone may have taken the port between the look and the service's bind: another one.
        if (start == TBundledService::TStart::Ended && TBundledService::PortTaken(port) && attempt + 1 < Attempts)
            continue;
        SetFinanceServiceAddress(LoopbackServiceUrl(port));
        switch (start)
        {
        case TBundledService::TStart::Answering:
            break;
        case TBundledService::TStart::Ended:
            warn(QStringLiteral("金融サービス orvanta-service が起動しませんでした（記録: %1）。"
                                "株価データは取得できません。\n"
                                "記録で理由を確かめてください。orvanta-service を手で起動したときは、"
                                "そのアドレスを --service で指定してください。")
                     .arg(log));
            return;
        case TBundledService::TStart::NoAnswer:
            warn(QStringLiteral("金融サービス orvanta-service が %1 秒以内に応答しませんでした（記録: %2）。")
                     .arg(environment.ServiceWait.count() / 1000)
                     .arg(log));
            break;
        }
        Service_ = std::move(service);
        return;
    }
    warn(
        QStringLiteral("金融サービス orvanta-service を起動できる空きポートがありません。株価データは取得できません。\n"
                       "動いている金融サービスのアドレスを --service で指定してください。"));
}

qint64 TStartup::StartedServiceId() const
{
    return Service_ ? Service_->ProcessId() : 0;
}
