#include "app/startup/startup_settings.h"

#include "app/startup/startup_data.h"
#include "data/service_address.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <system_error>
#include <vector>

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

// A folder holding its list but no dat/ still needs dat/: every page goes there through a
// temporary file beside it, and without it the first page stops the run.
bool LacksCacheFolder(const std::filesystem::path& folder)
{
    std::error_code ignored;
    return !std::filesystem::exists(folder / "dat", ignored);
}

QString PathText(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

//! True when `gid` is this user's private group: their primary group, with no other member.
//! Debian gives each user one and a umask of 002, so the user's own folders are group-writable.
bool PrivateGroup(gid_t gid)
{
    std::vector<char> buffer(64 * 1024);
    passwd user{};
    passwd* foundUser = nullptr;
    if (getpwuid_r(::geteuid(), &user, buffer.data(), buffer.size(), &foundUser) != 0 || foundUser == nullptr ||
        user.pw_gid != gid)
        return false;
    const std::string name = user.pw_name;
    std::vector<char> groupBuffer(64 * 1024);
    group entry{};
    group* foundGroup = nullptr;
    if (getgrgid_r(gid, &entry, groupBuffer.data(), groupBuffer.size(), &foundGroup) != 0 || foundGroup == nullptr)
        return false;
    for (char** member = entry.gr_mem; member != nullptr && *member != nullptr; ++member)
        if (name != *member)
            return false;
    return true;
}

//! Why the folder `info` describes is not this user's alone; empty when it is.
QString NotOwnReason(const struct stat& info, const std::filesystem::path& path)
{
    if (info.st_uid != ::geteuid())
        return QStringLiteral("%1 は別のユーザー (uid %2) のものです").arg(PathText(path)).arg(info.st_uid);
    if ((info.st_mode & S_IWOTH) != 0 || ((info.st_mode & S_IWGRP) != 0 && !PrivateGroup(info.st_gid)))
        return QStringLiteral("%1 には他のユーザーも書き込めます").arg(PathText(path));
    return {};
}

} // namespace

QString ForeignFolderReason(const std::filesystem::path& folder)
{
    struct stat info
    {};
    if (::stat(folder.c_str(), &info) != 0)
        return {};
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("%1 はフォルダではありません").arg(PathText(folder));
    if (QString reason = NotOwnReason(info, folder); !reason.isEmpty())
        return reason;
    // Pages planted in dat/ would be read as today's cache, so it is checked as the folder is.
    const std::filesystem::path dat = folder / "dat";
    if (::lstat(dat.c_str(), &info) != 0)
        return {};
    if (S_ISLNK(info.st_mode))
        return QStringLiteral("%1 はリンクです").arg(PathText(dat));
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("%1 はフォルダではありません").arg(PathText(dat));
    return NotOwnReason(info, dat);
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
    return {LoopbackServiceUrl(defaultPort), false};
}

TWorkFolder ChooseWorkFolder(const std::optional<QString>& option, const std::filesystem::path& startFolder,
                             const std::filesystem::path& perUserFolder)
{
    if (option)
    {
        const std::filesystem::path folder = (startFolder / option->toStdString()).lexically_normal();
        if (const QString reason = ForeignFolderReason(folder); !reason.isEmpty())
            throw TStartupError(QStringLiteral("--workdir %1 は作業フォルダに使えません: %2。\n"
                                               "自分だけが書き込めるフォルダを指定してください。")
                                    .arg(PathText(folder), reason));
        return {folder, LacksCacheFolder(folder), {}};
    }
    QString passed;
    if (HoldsWorkFiles(startFolder))
    {
        passed = ForeignFolderReason(startFolder);
        if (passed.isEmpty())
            return {startFolder, LacksCacheFolder(startFolder), {}};
    }
    if (perUserFolder.empty())
        throw TStartupError(QStringLiteral("作業フォルダを決められません（HOME が設定されていません）。\n"
                                           "--workdir で作業フォルダを指定してください。"));
    if (!passed.isEmpty())
        passed = QStringLiteral("%1 を作業フォルダに使いません（%2）。%3 を使います。")
                     .arg(PathText(startFolder), passed, PathText(perUserFolder));
    return {perUserFolder, true, passed};
}

bool PrepareWorkFolder(const std::filesystem::path& folder, const std::filesystem::path& listFile)
{
    std::error_code error;
    std::filesystem::create_directories(folder / "dat", error);
    if (error)
        throw TStartupError(QStringLiteral("作業フォルダ %1 を作れません: %2")
                                .arg(PathText(folder / "dat"), QString::fromLocal8Bit(error.message().c_str())));
    const std::filesystem::path list = folder / "KabuList.dat";
    if (std::filesystem::is_symlink(list, error) || std::filesystem::exists(list, error))
        return true;
    try
    {
        return BringStockList(listFile, folder) != TListOutcome::NoList;
    }
    catch (const std::system_error& copyError)
    {
        throw TStartupError(QStringLiteral("%1 を %2 へ写せません: %3")
                                .arg(PathText(listFile), PathText(list), QString::fromLocal8Bit(copyError.what())));
    }
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
