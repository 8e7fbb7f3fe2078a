#include "app/startup/startup_data.h"

#include "common/service_contract.h"
#include "common/temp_file.h"
#include "data/web_page.h"

#include <QCryptographicHash>

#include <fstream>
#include <iterator>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr const char* VersionFileName = "data-version";
constexpr const char* ListFileName = "KabuList.dat";
constexpr const char* NewListFileName = "KabuList.new.dat";
constexpr const char* ListHashFileName = "KabuList.dat.sha256";
constexpr std::uintmax_t MaxListBytes = 64 * 1024 * 1024;
constexpr std::uintmax_t MaxSmallFileBytes = 1024;

QString PathText(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

//! The bytes of a plain file, at most `limit`; none otherwise. A link is read only when
//! `followLink` (a source, never one of the working folder's files).
std::optional<std::string> ReadPlainFile(const std::filesystem::path& file, std::uintmax_t limit,
                                         bool followLink = false)
{
    struct stat info
    {};
    if ((followLink ? ::stat(file.c_str(), &info) : ::lstat(file.c_str(), &info)) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uintmax_t>(info.st_size) > limit)
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

//! The first line of a small plain file; empty when there is none.
std::string ReadToken(const std::filesystem::path& file)
{
    const std::string text = ReadPlainFile(file, MaxSmallFileBytes).value_or(std::string());
    return text.substr(0, text.find('\n'));
}

std::string Sha256Hex(std::string_view bytes)
{
    return QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

bool IsCacheFileName(const std::string& name)
{
    if (name.size() < 5 || name.front() != 'k')
        return false;
    const std::string_view end = std::string_view(name).substr(name.size() - 3);
    return end == ".00" || end == ".01" || end == ".02";
}

bool SameLocalDay(std::time_t a, std::time_t b)
{
    std::tm dayA{};
    std::tm dayB{};
    localtime_r(&a, &dayA);
    localtime_r(&b, &dayB);
    return dayA.tm_year == dayB.tm_year && dayA.tm_yday == dayB.tm_yday;
}

} // namespace

bool DropCacheOfOtherData(const std::filesystem::path& datFolder, const std::string& dataVersion, std::time_t now)
{
    // dat/ itself may be the user's link to a folder elsewhere; the files in it are never followed.
    struct stat folder
    {};
    if (::stat(datFolder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return true;
    if (ReadToken(datFolder / VersionFileName) == dataVersion)
        return true;
    bool complete = true;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(datFolder, error), end; !error && entry != end;
         entry.increment(error))
    {
        if (!IsCacheFileName(entry->path().filename().string()))
            continue;
        struct stat info
        {};
        // Only today's pages would be read again as fresh; older ones are fetched anew anyway.
        if (::lstat(entry->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
            !SameLocalDay(info.st_mtime, now))
            continue;
        if (::unlink(entry->path().c_str()) != 0)
            complete = false;
    }
    if (error || !complete)
        return false;
    try
    {
        WriteFileReplacing(datFolder / VersionFileName, dataVersion + "\n");
    }
    catch (const std::system_error&)
    {
        return false; // the pages are gone; the next start drops what this session fetched
    }
    return true;
}

TListOutcome BringStockList(const std::filesystem::path& from, const std::filesystem::path& workFolder)
{
    const std::optional<std::string> list = ReadPlainFile(from, MaxListBytes, true);
    if (!list)
        return TListOutcome::NoList;
    const std::string hash = Sha256Hex(*list);
    const std::filesystem::path target = workFolder / ListFileName;
    const std::filesystem::path hashFile = workFolder / ListHashFileName;
    const auto replace = [&] {
        WriteFileReplacing(target, *list);
        WriteFileReplacing(hashFile, hash + "\n");
    };

    struct stat info
    {};
    if (::lstat(target.c_str(), &info) != 0)
    {
        replace();
        return TListOutcome::Copied;
    }
    // A list too large to be ours, or one that is not a plain file, counts as the user's own.
    const std::optional<std::string> current = ReadPlainFile(target, MaxListBytes);
    if (current == list)
    {
        if (ReadToken(hashFile) != hash)
            WriteFileReplacing(hashFile, hash + "\n");
        return TListOutcome::Same;
    }
    if (current && ReadToken(hashFile) == Sha256Hex(*current))
    {
        replace();
        return TListOutcome::Replaced;
    }
    const std::filesystem::path newList = workFolder / NewListFileName;
    if (ReadPlainFile(newList, MaxListBytes) == list)
        return TListOutcome::NewFileAlready;
    WriteFileReplacing(newList, *list);
    // The copy made last is now this one: a user who puts it in place of theirs gets the next
    // list without a word, while their own edited list still never matches.
    WriteFileReplacing(hashFile, hash + "\n");
    return TListOutcome::NewFile;
}

namespace {

//! Status requests, only on loopback: another host's status would name a folder of its own.
TServiceStatus AskLoopbackStatus(const std::string& serviceUrl)
{
    if (!IsLoopbackUrl(serviceUrl))
        return {};
    return AskServiceStatus(serviceUrl).value_or(TServiceStatus{});
}

//! Brings `workFolder` in step with the data `status` names and makes it current.
void ApplyServiceData(const std::filesystem::path& workFolder, const TServiceStatus& status,
                      const std::function<void(const QString&)>& say)
{
    if (status.Known)
    {
        if (!DropCacheOfOtherData(workFolder / "dat", status.DataVersion, std::time(nullptr)))
            say(QStringLiteral("サービスのデータが変わりましたが、%1 の今日のキャッシュを片付けられませんでした。"
                               "古いページが表示されることがあります。")
                    .arg(PathText(workFolder / "dat")));
        // Another user's folder is not read: only the user's own service names a folder of theirs.
        if (status.Own && !status.DataFolder.empty() && status.DataFolder.is_absolute())
        {
            try
            {
                if (BringStockList(status.DataFolder / ListFileName, workFolder) == TListOutcome::NewFile)
                    say(QStringLiteral("サービスのデータから新しい銘柄リストを %1 に置きました。"
                                       "%2 は編集されているため置き換えていません。"
                                       "新しいリストを使うには KabuList.new.dat を KabuList.dat に置き換えてください。")
                            .arg(PathText(workFolder / NewListFileName), PathText(workFolder / ListFileName)));
            }
            catch (const std::system_error& error)
            {
                say(QStringLiteral("銘柄リストを %1 に写せません: %2")
                        .arg(PathText(workFolder), QString::fromLocal8Bit(error.what())));
            }
        }
    }
    SetCurrentServiceStatus(status);
}

} // namespace

TServiceStatus TakeServiceData(const std::filesystem::path& workFolder, const std::string& serviceUrl,
                               const std::function<void(const QString&)>& say)
{
    const TServiceStatus status = AskLoopbackStatus(serviceUrl);
    ApplyServiceData(workFolder, status, say);
    return status;
}

TServiceDataWatch::TServiceDataWatch(TClock clock) : Clock(std::move(clock)) {}

bool TServiceDataWatch::CatchUp(const std::function<void(const QString&)>& say)
{
    constexpr std::chrono::seconds AnswerKept{1};
    if (LastAsked && Clock() - *LastAsked < AnswerKept)
        return false;
    return CatchUpNow(say);
}

bool TServiceDataWatch::CatchUpNow(const std::function<void(const QString&)>& say)
{
    LastAsked = Clock();
    const TServiceStatus status = AskLoopbackStatus(FinanceServiceAddress());
    const TServiceStatus& current = CurrentServiceStatus();
    // Silence (a service stopped, another program on the port) says nothing of the data.
    if (!status.Known || (current.Known && status.DataVersion == current.DataVersion))
        return false;
    std::error_code ignored;
    ApplyServiceData(std::filesystem::current_path(ignored), status, say);
    return true;
}
