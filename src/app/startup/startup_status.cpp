#include "app/startup/startup_status.h"

#include "common/socket_owner.h"
#include "data/web_page.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <curl/curl.h>

#include <memory>
#include <unistd.h>

namespace {

constexpr std::size_t MaxStatusBytes = 64 * 1024;
constexpr long StatusConnectMs = 2000;
constexpr long StatusLimitMs = 5000;

struct TCurlCleanup
{
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

std::size_t AppendBody(char* bytes, std::size_t size, std::size_t count, void* target)
{
    auto& body = *static_cast<std::string*>(target);
    const std::size_t length = size * count;
    if (body.size() + length > MaxStatusBytes)
        return 0; // not a status answer; ends the transfer
    body.append(bytes, length);
    return length;
}

TServiceStatus& Current()
{
    static TServiceStatus status;
    return status;
}

} // namespace

std::optional<TServiceStatus> ParseServiceStatus(std::string_view json)
{
    if (json.size() > MaxStatusBytes)
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    if (object.value(QStringLiteral("program")).toString() != QStringLiteral("orvanta-service"))
        return std::nullopt;
    TServiceStatus status;
    status.Known = true;
    status.Sample = object.value(QStringLiteral("sample")).toBool(false);
    status.DataFolder = object.value(QStringLiteral("data")).toString().toStdString();
    const QString version = object.value(QStringLiteral("data_version")).toString();
    status.DataVersion = version.isEmpty() ? std::string("0") : version.toStdString();
    return status;
}

std::optional<TServiceStatus> AskServiceStatus(const std::string& serviceUrl)
{
    const std::unique_ptr<CURL, TCurlCleanup> handle(curl_easy_init());
    if (!handle)
        return std::nullopt;
    std::string body;
    const std::string url = serviceUrl + "/orvanta/status";
    curl_easy_setopt(handle.get(), CURLOPT_URL, url.c_str());
    if (IsLoopbackUrl(url))
        curl_easy_setopt(handle.get(), CURLOPT_PROXY, "");
    curl_easy_setopt(handle.get(), CURLOPT_CONNECTTIMEOUT_MS, StatusConnectMs);
    curl_easy_setopt(handle.get(), CURLOPT_TIMEOUT_MS, StatusLimitMs);
    curl_easy_setopt(handle.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &body);
    long status = 0;
    if (curl_easy_perform(handle.get()) != CURLE_OK ||
        curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
        return std::nullopt;
    return ParseServiceStatus(body);
}

std::optional<int> LoopbackPort(const std::string& serviceUrl)
{
    constexpr std::string_view Prefix = "http://127.0.0.1";
    const std::string_view url = serviceUrl;
    if (url.substr(0, Prefix.size()) != Prefix)
        return std::nullopt;
    const std::string_view rest = url.substr(Prefix.size());
    if (rest.empty())
        return 80;
    if (rest.front() != ':' || rest.size() < 2 || rest.size() > 6)
        return std::nullopt;
    int port = 0;
    for (const char c : rest.substr(1))
    {
        if (c < '0' || c > '9')
            return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

bool ListensAsThisUser(int port)
{
    return LoopbackPortOwner(port) == static_cast<unsigned>(::geteuid());
}

const TServiceStatus& CurrentServiceStatus()
{
    return Current();
}

void SetCurrentServiceStatus(TServiceStatus status)
{
    Current() = std::move(status);
}

QString ApplicationTitle()
{
    return QStringLiteral("Orvanta(おるばんた)");
}

QString MainWindowCaption(const TServiceStatus& status)
{
    QString caption = ApplicationTitle() + QStringLiteral(" Ver1.6a");
    if (status.Known && status.Sample)
        caption += QStringLiteral("（サンプルデータ）");
    return caption;
}
