#pragma once

#include "common/service_contract.h"

#include <QString>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

// The choices made before the window opens: the finance service's address and the working
// folder, where KabuList.dat and the dat/ cache are.

//! What stops the program before its window opens; the text is for the user.
class TStartupError : public std::runtime_error
{
public:
    explicit TStartupError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString Text() const { return QString::fromStdString(what()); }
};

struct TServiceAddress
{
    std::string Url;
    bool Explicit = false; // given by the user: never started or stopped by the program
};

//! --service, else the ORVANTA_SERVICE_URL variable (empty counts as unset), else the loopback
//! address of `defaultPort` (LoopbackServiceUrl). Throws TStartupError naming where a malformed
//! address came from.
TServiceAddress ChooseServiceAddress(const std::optional<QString>& option, const char* variable,
                                     int defaultPort = DefaultServicePort);

struct TWorkFolder
{
    std::filesystem::path Folder;
    bool Prepare = false; // give it dat/ and KabuList.dat where missing
    QString Passed;       // why the start folder, though it held the program's files, was not used
};

//! Why `folder` may not be a working folder: it, or its dat/, does not belong to this user, or
//! someone else may write to it (others, or a group other than the user's private one), or its
//! dat/ is a link or no folder. Empty when it may. A folder that does not exist may.
QString ForeignFolderReason(const std::filesystem::path& folder);

//! --workdir (relative to the start folder), used as it is when it holds dat/ and prepared
//! otherwise (a list it holds is kept); else the start folder when it holds dat/ or
//! KabuList.dat, prepared when dat/ is missing; else the per-user folder, always prepared. A start folder with a ForeignFolderReason is passed over (Passed
//! says why). Throws TStartupError when the per-user folder is needed but unknown, and when
//! --workdir names a folder with a ForeignFolderReason.
TWorkFolder ChooseWorkFolder(const std::optional<QString>& option, const std::filesystem::path& startFolder,
                             const std::filesystem::path& perUserFolder);

//! Creates `folder` and its dat/, and copies `listFile` in as KabuList.dat when there is none
//! (its hash kept beside it, so a later list can replace it). Never replaces a file. False when a list was needed and `listFile` does not exist. Throws
//! TStartupError when a folder or the copy cannot be made.
bool PrepareWorkFolder(const std::filesystem::path& folder, const std::filesystem::path& listFile);

//! The stock list a new working folder starts with: the one of the user's own service data
//! (written by an import), else the sample market's.
std::filesystem::path StarterListFile(const std::filesystem::path& perUserFolder,
                                      const std::filesystem::path& sampleFolder);
