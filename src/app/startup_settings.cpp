#include "app/startup_settings.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsHostName(std::string_view host)
{
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
    });
}

bool IsIpv6Literal(std::string_view host)
{
    if (host.size() < 4 || host.front() != '[' || host.back() != ']')
        return false;
    const std::string_view inner = host.substr(1, host.size() - 2);
    return inner.find(':') != std::string_view::npos && std::all_of(inner.begin(), inner.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
           });
}

bool IsPort(std::string_view port)
{
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit))
        return false;
    const int value = std::stoi(std::string(port));
    return value >= 1 && value <= 65535;
}

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

std::optional<std::string> CheckServiceAddress(std::string_view text)
{
    constexpr std::string_view Scheme = "http://";
    if (text.size() < Scheme.size() ||
        !std::equal(Scheme.begin(), Scheme.end(), text.begin(),
                    [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }))
        return std::nullopt;
    const std::string_view authority = text.substr(Scheme.size());
    // The port's colon is the last one after an IPv6 literal's closing bracket.
    const std::size_t bracket = authority.rfind(']');
    const std::size_t colon = authority.find(':', bracket == std::string_view::npos ? 0 : bracket);
    const std::string_view host = authority.substr(0, colon);
    if (!IsHostName(host) && !IsIpv6Literal(host))
        return std::nullopt;
    if (colon != std::string_view::npos && !IsPort(authority.substr(colon + 1)))
        return std::nullopt;
    return std::string(Scheme) + std::string(authority);
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
