#pragma once

#include "app/startup/startup_status.h"

#include <QString>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

// The working folder kept in step with the service's data: the day's cache dropped when the
// data changed under it, and the stock list the service made brought in beside the user's.

//! Today's cache files of `datFolder` (the program's own k<key>.00/.01/.02, plain files of this
//! user; links and other files are left alone) removed when `dataVersion` is not the one they
//! were filled from, which is then recorded in `datFolder`/data-version. `now` says what today
//! is. False when a file could not be removed or the version not recorded (the old version then
//! stays recorded, so the next start tries again). A missing `datFolder` is left so.
bool DropCacheOfOtherData(const std::filesystem::path& datFolder, const std::string& dataVersion, std::time_t now);

enum class TListOutcome
{
    NoList,         // the service's folder has no KabuList.dat
    Copied,         // the working folder had none
    Same,           // the working folder's list has those bytes already
    Replaced,       // the working folder's list was the copy made last, and is now the new one
    NewFile,        // the user edited theirs: the new one went to KabuList.new.dat
    NewFileAlready, // ... where it already was
};

//! Brings `from` (a stock list) into `workFolder` as KabuList.dat, or as KabuList.new.dat when
//! the working folder's list is not the copy made last (either file): the hash of each copy is
//! kept in KabuList.dat.sha256. Files are written through a temporary file and a rename,
//! never through a link. Throws std::system_error when a file cannot be written.
TListOutcome BringStockList(const std::filesystem::path& from, const std::filesystem::path& workFolder);

//! Learns the status of the service at `serviceUrl` (asked only on loopback), applies the cache
//! rule to `workFolder`/dat, and brings the service's KabuList.dat in when the service is the
//! user's own. Tells `say` what the user should know. Returns the status, also made current.
TServiceStatus TakeServiceData(const std::filesystem::path& workFolder, const std::string& serviceUrl,
                               const std::function<void(const QString&)>& say);

//! Keeps a running program's working folder in step with data that changes under it (a fetch
//! from a terminal or cron, or from the window): asks the current service's status and, when it
//! names another data version than the current status, takes the new data into the current
//! folder as the start does (TakeServiceData). Anything but an orvanta-service's answer
//! changes nothing.
class TServiceDataWatch
{
public:
    using TClock = std::function<std::chrono::steady_clock::time_point()>;
    explicit TServiceDataWatch(TClock clock = std::chrono::steady_clock::now);

    //! Before a command that reads the service's pages: asks unless it asked within the last
    //! second (one request, however many commands follow each other). True when the data
    //! changed, so the caption may too.
    bool CatchUp(const std::function<void(const QString&)>& say);
    //! The same, asked at once: after a fetch from the window.
    bool CatchUpNow(const std::function<void(const QString&)>& say);

private:
    TClock Clock;
    std::optional<std::chrono::steady_clock::time_point> LastAsked;
};
