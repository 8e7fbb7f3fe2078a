#pragma once

#include <QString>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// What the finance service says of itself (GET StatusRoute), and what the program makes of
// it: whether the data is the sample market, where the service keeps it and which version it is.

struct TServiceStatus
{
    bool Known = false;  // an orvanta-service answered its status
    bool Own = false;    // the kernel says its socket is this user's, so its data folder is the user's
    bool Sample = false; // it serves the made-up sample market
    std::filesystem::path DataFolder;
    std::string DataVersion = "0"; // changes whenever a fetch, listing or import changes the data
};

//! The status answer read; none unless it is a JSON object whose program is ServiceProgram.
//! Own is left false: only the kernel can tell that.
std::optional<TServiceStatus> ParseServiceStatus(std::string_view json);

//! Asks `serviceUrl` for its status (a loopback address: a few seconds at most, no proxy). None
//! when nothing answers, something that is not an orvanta-service, or a socket of another user
//! than ServiceOwner(). Own when the kernel says the socket that accepted the request is this
//! user's (not merely some listener on the port number).
std::optional<TServiceStatus> AskServiceStatus(const std::string& serviceUrl);

//! The status of the service the program uses, as learnt at start or after a fetch; unknown
//! (nothing Known) before.
const TServiceStatus& CurrentServiceStatus();
void SetCurrentServiceStatus(TServiceStatus status);

//! "Orvanta(おるばんた) Ver1.6a", with "（サンプルデータ）" while the service serves the sample market.
QString MainWindowCaption(const TServiceStatus& status);

//! The application title, also the caption of message boxes that have none of their own.
QString ApplicationTitle();
