#pragma once

#include "market/fetch_requests.h"
#include "market/raw_days.h"

#include <filesystem>
#include <map>
#include <optional>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The fetched daily bars of a data folder, under <data>/bars/. Every answer of the data API is
// one chunk file, written whole through a temp file, synced and renamed before the next request,
// so a kill at any moment loses nothing that was answered. A chunk also names the request it
// answers, which is all the fetch needs to know where to resume. Loading merges the chunks in
// the order they were written (a later row of the same stock and day wins); compaction now and
// then folds them into one, so a day's fetch never rewrites a file per stock.

class TBarStore
{
public:
    enum class TMode
    {
        Write,
        ReadOnly
    };

    //! Opens <dataFolder>/bars (made when missing), takes its lock for this process and reads
    //! the requests of every chunk. Throws std::runtime_error when another process holds the lock
    //! or the folder cannot be made. ReadOnly takes no lock and makes nothing; Commit and
    //! compaction must not be called then.
    explicit TBarStore(const std::filesystem::path& dataFolder, TMode mode = TMode::Write);
    ~TBarStore();
    TBarStore(const TBarStore&) = delete;
    TBarStore& operator=(const TBarStore&) = delete;

    //! Writes one answer as a chunk and makes it durable before returning. Throws
    //! std::system_error (a full disk, a folder that cannot be written); nothing is then stored.
    void Commit(const TBarRequest& request, const std::vector<TBarRow>& rows);

    //! Every stored request, oldest first.
    const std::vector<TBarRequest>& Requests() const { return StoredRequests; }

    //! Date queries by day.
    std::map<TDate, TQueryState> Days() const;

    //! Code queries by the source's code.
    std::map<std::string, TQueryState> Codes() const;

    size_t ChunkCount() const { return Chunks; }

    //! Folds every chunk into one when there are more than `threshold`. A kill in the middle
    //! leaves the old chunks beside the new one, which loads the same.
    void CompactIfOver(size_t threshold);

private:
    void ReadRequests();

    std::filesystem::path Folder;
    int LockFd = -1;
    unsigned long NextSequence = 1;
    size_t Chunks = 0;
    std::vector<TBarRequest> StoredRequests;
};

//! The check sum a chunk file ends with, over every byte before it.
std::uint64_t ChunkCheckSum(std::string_view bytes);

//! Every stock's stored days by served code, oldest first, one per date; with `sourceCodes`, also
//! the source's code of each served code. A folder without bars gives an empty map; a damaged
//! chunk, or a file named like one that is not a regular file of the user's, is skipped and named
//! in `warnings`.
std::map<std::string, TRawDays> LoadRawDays(const std::filesystem::path& dataFolder, std::vector<std::string>& warnings,
                                            std::map<std::string, std::string>* sourceCodes = nullptr);

//! As above, the warnings going to stderr.
std::map<std::string, TRawDays> LoadRawDays(const std::filesystem::path& dataFolder);
