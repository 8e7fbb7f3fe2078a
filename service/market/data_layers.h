#pragma once

#include <filesystem>
#include <vector>

// The service's data folders. Installed, the sample market is read-only, so the user's own
// data lies over it in a folder of their own, which is the one imports write.

//! Folders read one over the other, the last on top; the last is also the one written.
using TDataLayers = std::vector<std::filesystem::path>;

//! The sample market under <userFolder>/service. Throws std::runtime_error when there is no
//! user folder (no home folder to put it in).
TDataLayers DefaultDataLayers(const std::filesystem::path& sample, const std::filesystem::path& userFolder);

//! Readies the top layer for writing and returns it: creates it and, when it has no master of
//! its own, copies in the one read through from below, so an import extends what is served.
std::filesystem::path WritableLayer(const TDataLayers& layers);
