#include "app/startup.h"

#include "app/bundled_service.h"
#include "common/data_folders.h"
#include "data/fetch_ahead.h"
#include "data/web_page.h"

#include <QDir>

#include <cstdlib>

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
    if (!address.Explicit)
        StartService(environment, warn);
}

TStartup::~TStartup() = default;

void TStartup::StartService(const TStartupEnvironment& environment, const std::function<void(const QString&)>& warn)
{
    const QString program = TBundledService::FindProgram(environment.ProgramFolder);
    if (program.isEmpty())
    {
        warn(QStringLiteral("金融サービス orvanta-service が見つかりません。株価データは取得できません。"));
        return;
    }
    auto service = std::make_unique<TBundledService>(program, environment.DefaultPort);
    if (service->Answers())
        return; // someone else's service: used, never stopped
    const QString log = PathText(WorkFolder_ / "service.log");
    switch (service->Start(log, environment.ServiceWait))
    {
    case TBundledService::TStart::Answering:
        break;
    case TBundledService::TStart::Ended:
        warn(QStringLiteral("金融サービス orvanta-service が起動しませんでした（記録: %1）。"
                            "株価データは取得できません。")
                 .arg(log));
        return;
    case TBundledService::TStart::NoAnswer:
        warn(QStringLiteral("金融サービス orvanta-service が %1 秒以内に応答しませんでした（記録: %2）。")
                 .arg(environment.ServiceWait.count() / 1000)
                 .arg(log));
        break;
    }
    Service_ = std::move(service);
}

qint64 TStartup::StartedServiceId() const
{
    return Service_ ? Service_->ProcessId() : 0;
}
