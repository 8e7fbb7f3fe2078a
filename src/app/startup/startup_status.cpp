#include "app/startup/startup_status.h"

#include "common/service_contract.h"
#include "common/socket_owner.h"
#include "data/web_page.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <curl/curl.h>

#include <memory>
#include <unistd.h>

namespace {

constexpr long StatusConnectMs = 2000;
constexpr long StatusLimitMs = 5000;

struct TCurlCleanup
{
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

// Whose socket answers: asked of the kernel while the connection stands, since a closed one
// names nobody.
int RecordPeer(void* user, char* primaryIp, char* localIp, int primaryPort, int localPort)
{
    *static_cast<std::optional<unsigned>*>(user) = PeerSocketOwner({localIp, localPort}, {primaryIp, primaryPort});
    return CURL_PREREQFUNC_OK;
}

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
    const auto field = [&object](const char* name) { return object.value(QLatin1String(name)); };
    if (field(StatusProgramField).toString() != QLatin1String(ServiceProgram))
        return std::nullopt;
    TServiceStatus status;
    status.Known = true;
    status.Sample = field(StatusSampleField).toBool(false);
    status.DataFolder = field(StatusDataField).toString().toStdString();
    const QString version = field(StatusDataVersionField).toString();
    status.DataVersion = version.isEmpty() ? std::string("0") : version.toStdString();
    return status;
}

std::optional<TServiceStatus> AskServiceStatus(const std::string& serviceUrl)
{
    const std::unique_ptr<CURL, TCurlCleanup> handle(curl_easy_init());
    if (!handle)
        return std::nullopt;
    std::string body;
    const std::string url = serviceUrl + StatusRoute;
    curl_easy_setopt(handle.get(), CURLOPT_URL, url.c_str());
    if (IsLoopbackUrl(url))
        curl_easy_setopt(handle.get(), CURLOPT_PROXY, "");
    curl_easy_setopt(handle.get(), CURLOPT_CONNECTTIMEOUT_MS, StatusConnectMs);
    curl_easy_setopt(handle.get(), CURLOPT_TIMEOUT_MS, StatusLimitMs);
    curl_easy_setopt(handle.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &body);
    std::optional<unsigned> peerOwner;
    curl_easy_setopt(handle.get(), CURLOPT_PREREQFUNCTION, RecordPeer);
    curl_easy_setopt(handle.get(), CURLOPT_PREREQDATA, &peerOwner);
    long status = 0;
    if (curl_easy_perform(handle.get()) != CURLE_OK ||
        curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
        return std::nullopt;
    // Another user's program on the service's port is no answer, as it is for the pages.
    if (const std::optional<unsigned> expected = ServiceOwner(); expected && peerOwner != expected)
        return std::nullopt;
    std::optional<TServiceStatus> answer = ParseServiceStatus(body);
    if (answer)
        answer->Own = peerOwner == static_cast<unsigned>(::geteuid());
    return answer;
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
