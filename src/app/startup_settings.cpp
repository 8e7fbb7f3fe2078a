#include "app/startup_settings.h"

#include "data/service_address.h"

#include <system_error>

namespace {

QString BadAddressText(const QString& address, const QString& source)
{
    return QStringLiteral("金融サービスのアドレス「%1」(%2) は使えません。\n"
                          "http://ホスト名 または http://ホスト名:ポート番号 の形で指定してください。")
        .arg(address, source);
}

bool HoldsWorkFiles(const std::filesystem::path& folder)
{
    std::error_code ignored;
    return std::filesystem::exists(folder / "dat", ignored) ||
           std::filesystem::exists(folder / "KabuList.dat", ignored);
}

QString PathText(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

} // namespace

std::string LoopbackAddress(int port)
{
    return "http://127.0.0.1:" + std::to_string(port);
}

TServiceAddress ChooseServiceAddress(const std::optional<QString>& option, const char* variable, int defaultPort)
{
    if (option)
    {
        if (const auto address = CheckServiceAddress(option->toStdString()))
            return {*address, true};
        throw TStartupError(BadAddressText(*option, QStringLiteral("--service")));
    }
    if (variable != nullptr && *variable != '\0')
    {
        if (const auto address = CheckServiceAddress(variable))
            return {*address, true};
        throw TStartupError(BadAddressText(QString::fromLocal8Bit(variable), QStringLiteral("ORVANTA_SERVICE_URL")));
    }
    return {LoopbackAddress(defaultPort), false};
}

TWorkFolder ChooseWorkFolder(const std::optional<QString>& option, const std::filesystem::path& startFolder,
                             const std::filesystem::path& perUserFolder)
{
    if (option)
    {
        const std::filesystem::path folder = (startFolder / option->toStdString()).lexically_normal();
        return {folder, !HoldsWorkFiles(folder)};
    }
    if (HoldsWorkFiles(startFolder))
        return {startFolder, false};
    if (perUserFolder.empty())
        throw TStartupError(QStringLiteral("作業フォルダを決められません（HOME が設定されていません）。\n"
                                           "--workdir で作業フォルダを指定してください。"));
    return {perUserFolder, true};
}

bool PrepareWorkFolder(const std::filesystem::path& folder, const std::filesystem::path& listFile)
{
    std::error_code error;
    std::filesystem::create_directories(folder / "dat", error);
    if (error)
        throw TStartupError(QStringLiteral("作業フォルダ %1 を作れません: %2")
                                .arg(PathText(folder / "dat"), QString::fromLocal8Bit(error.message().c_str())));
    const std::filesystem::path list = folder / "KabuList.dat";
    if (std::filesystem::exists(list, error))
        return true;
    if (!std::filesystem::exists(listFile, error))
        return false;
    std::filesystem::copy_file(listFile, list, error);
    if (error)
        throw TStartupError(QStringLiteral("%1 を %2 へ写せません: %3")
                                .arg(PathText(listFile), PathText(list),
                                     QString::fromLocal8Bit(error.message().c_str())));
    return true;
}

std::filesystem::path StarterListFile(const std::filesystem::path& perUserFolder,
                                      const std::filesystem::path& sampleFolder)
{
    std::error_code ignored;
    const std::filesystem::path imported = perUserFolder / "service" / "KabuList.dat";
    if (!perUserFolder.empty() && std::filesystem::exists(imported, ignored))
        return imported;
    return sampleFolder / "KabuList.dat";
}
