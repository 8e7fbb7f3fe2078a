#pragma once

#include <filesystem>
#include <string>

// Where the program and its service find their files: the per-user data folder of the XDG
// base directories, and the sample market installed beside the executables (or, for a build
// that was not installed, the one in the source tree).

//! The program's folder of an XDG base directory: "<xdgBase>/orvanta", or
//! "<home>/<homeDefault>/orvanta" when xdgBase is unset, empty or relative (the XDG rules say
//! to ignore a relative one). Either may be null; empty when neither gives an absolute folder.
std::filesystem::path XdgFolder(const char* xdgBase, const char* home, const std::filesystem::path& homeDefault);

//! XdgFolder of XDG_DATA_HOME, by default ".local/share".
std::filesystem::path PerUserFolder(const char* xdgDataHome, const char* home);

//! The same from this process's environment; without HOME the account's home folder is used.
std::filesystem::path PerUserFolder();

//! $HOME, or when it is unset or empty, the home folder of the user's account; empty when neither.
std::string HomeFolder();

//! The sample market installed for `executable` ("<prefix>/bin/x" gives "<prefix>/share/orvanta")
//! when it holds a stock master; else the source tree's sample folder this build was made from.
std::filesystem::path SampleMarketFolder(const std::filesystem::path& executable);

//! The running program's own file (/proc/self/exe); empty when it cannot be read.
std::filesystem::path ExecutablePath();
