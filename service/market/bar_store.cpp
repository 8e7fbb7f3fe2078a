#include "market/bar_store.h"
#include "market/own_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <unordered_map>

// A chunk file, little-endian:
//   "ORVBARS1"
//   u32 length, then that many bytes of request lines: "<D|C> <key> <page> <next|-> <asked> <rows>\n"
//   u64 row count, then per row: 5 code bytes, u8 flags (1: traded), u8 factor length (0: "1"),
//     u8 0, i32 day number, i64 open, high, low, close, volume, turnover, the factor's text
//   u64 check sum of every byte before it
// A compacted chunk lists the requests of every chunk it folded.

namespace {

constexpr std::string_view Magic = "ORVBARS1";
constexpr size_t FixedRowBytes = 5 + 3 + 4 + 6 * 8;
constexpr const char* ChunkSuffix = ".chunk";

void PutU32(std::string& out, std::uint32_t value)
{
    char bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xffu);
    out.append(bytes, 4);
}

void PutU64(std::string& out, std::uint64_t value)
{
    char bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xffu);
    out.append(bytes, 8);
}

std::uint64_t GetU64(const char* at)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(at[i]);
    return value;
}

std::uint32_t GetU32(const char* at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(at[i]);
    return value;
}

// Pagination keys are the source's opaque text: escaped so a line holds any of them.
std::string EscapeKey(std::string_view key)
{
    if (key.empty())
        return "-";
    std::string out;
    for (const char c : key)
    {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7f && c != '%' && !(out.empty() && c == '-'))
        {
            out += c;
        }
        else
        {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", byte);
            out += hex;
        }
    }
    return out;
}

std::optional<std::string> UnescapeKey(std::string_view text)
{
    if (text == "-")
        return std::string();
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] != '%')
        {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        unsigned value = 0;
        for (size_t k = 1; k <= 2; ++k)
        {
            const char h = text[i + k];
            value <<= 4;
            if (h >= '0' && h <= '9')
                value |= static_cast<unsigned>(h - '0');
            else if (h >= 'A' && h <= 'F')
                value |= static_cast<unsigned>(h - 'A' + 10);
            else
                return std::nullopt;
        }
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

std::string RequestLine(const TBarRequest& request)
{
    return std::string(request.Kind == TBarRequest::TKind::Date ? "D " : "C ") + request.Key + ' ' +
           std::to_string(request.Page) + ' ' + EscapeKey(request.NextPage) + ' ' + DashedDate(request.AskedOn) + ' ' +
           std::to_string(request.Rows) + '\n';
}

std::vector<std::string_view> SplitSpaces(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start <= line.size())
    {
        const size_t end = std::min(line.find(' ', start), line.size());
        fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

std::optional<int> ReadCount(std::string_view text)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (const char c : text)
    {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<TBarRequest> ParseRequestLine(std::string_view line)
{
    const std::vector<std::string_view> fields = SplitSpaces(line);
    if (fields.size() != 6 || (fields[0] != "D" && fields[0] != "C"))
        return std::nullopt;
    TBarRequest request;
    request.Kind = fields[0] == "D" ? TBarRequest::TKind::Date : TBarRequest::TKind::Code;
    request.Key = std::string(fields[1]);
    if (request.Kind == TBarRequest::TKind::Date ? !ParseDate(request.Key) : !IsSourceCode(request.Key))
        return std::nullopt;
    const std::optional<int> page = ReadCount(fields[2]);
    const std::optional<std::string> next = UnescapeKey(fields[3]);
    const std::optional<TDate> asked = ParseDate(fields[4]);
    const std::optional<int> rows = ReadCount(fields[5]);
    if (!page || !next || !asked || !rows)
        return std::nullopt;
    request.Page = *page;
    request.NextPage = *next;
    request.AskedOn = *asked;
    request.Rows = *rows;
    return request;
}

void AppendRow(std::string& out, const std::string& code, const TRawDay& day)
{
    char fixed[FixedRowBytes] = {};
    std::memcpy(fixed, code.data(), std::min<size_t>(code.size(), 5));
    const std::string& factor = day.AdjFactor;
    const bool plainFactor = factor == "1";
    fixed[5] = day.Traded ? 1 : 0;
    fixed[6] = static_cast<char>(plainFactor ? 0 : std::min<size_t>(factor.size(), 255));
    const auto dayNumber = static_cast<std::uint32_t>(DayNumber(day.Date));
    for (int i = 0; i < 4; ++i)
        fixed[8 + i] = static_cast<char>((dayNumber >> (8 * i)) & 0xffu);
    const std::int64_t values[6] = {day.Open, day.High, day.Low, day.Close, day.Volume, day.Turnover};
    for (int v = 0; v < 6; ++v)
    {
        const auto bits = static_cast<std::uint64_t>(values[v]);
        for (int i = 0; i < 8; ++i)
            fixed[12 + 8 * v + i] = static_cast<char>((bits >> (8 * i)) & 0xffu);
    }
    out.append(fixed, FixedRowBytes);
    if (!plainFactor)
        out.append(factor, 0, static_cast<unsigned char>(fixed[6]));
}

// A chunk's bytes; `appendRows(out)` appends the rows and answers how many.
template <typename AppendRows>
std::string ChunkBytes(const std::vector<TBarRequest>& requests, size_t rowsAbout, AppendRows&& appendRows)
{
    std::string lines;
    for (const TBarRequest& request : requests)
        lines += RequestLine(request);
    std::string out(Magic);
    out.reserve(out.size() + 4 + lines.size() + 8 + rowsAbout * (FixedRowBytes + 1) + 8);
    PutU32(out, static_cast<std::uint32_t>(lines.size()));
    out += lines;
    const size_t countAt = out.size();
    PutU64(out, 0);
    const std::uint64_t count = appendRows(out);
    for (int i = 0; i < 8; ++i)
        out[countAt + static_cast<size_t>(i)] = static_cast<char>((count >> (8 * i)) & 0xffu);
    PutU64(out, ChunkCheckSum(out));
    return out;
}

std::system_error SystemError(const std::string& what)
{
    return std::system_error(errno, std::generic_category(), what);
}

void SyncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw SystemError(folder.string() + " を開けません");
    const int result = ::fsync(fd);
    ::close(fd);
    if (result != 0)
        throw SystemError(folder.string() + " をディスクに書き出せません");
}

// Whole file to the disk before its name: a kill or a power cut leaves the old state or the
// new one. The temp name starts with a dot, so no loader takes it for a chunk.
void WriteDurably(const std::filesystem::path& target, std::string_view bytes)
{
    const std::filesystem::path temp = target.parent_path() / ("." + target.filename().string() + ".tmp");
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        throw SystemError(temp.string() + " に書き込めません");
    size_t done = 0;
    while (done < bytes.size())
    {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
        {
            const std::system_error error = SystemError(temp.string() + " に書き込めません");
            ::close(fd);
            ::unlink(temp.c_str());
            throw error;
        }
        done += static_cast<size_t>(written);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0)
    {
        const std::system_error error = SystemError(temp.string() + " に書き込めません");
        ::unlink(temp.c_str());
        throw error;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0)
    {
        const std::system_error error = SystemError(target.string() + " に書き込めません");
        ::unlink(temp.c_str());
        throw error;
    }
    SyncFolder(target.parent_path());
}

// The sequence number of a chunk's name, "00000042.chunk"; 0 for any other name.
unsigned long ChunkSequence(const std::filesystem::path& file)
{
    const std::string name = file.filename().string();
    const std::string_view suffix = ChunkSuffix;
    if (name.size() != 8 + suffix.size() || name.compare(8, suffix.size(), suffix) != 0)
        return 0;
    unsigned long value = 0;
    for (size_t i = 0; i < 8; ++i)
    {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        value = value * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    return value;
}

std::filesystem::path ChunkPath(const std::filesystem::path& folder, unsigned long sequence)
{
    char name[32];
    std::snprintf(name, sizeof name, "%08lu%s", sequence, ChunkSuffix);
    return folder / name;
}

std::vector<std::filesystem::path> ChunkFiles(const std::filesystem::path& folder)
{
    std::vector<std::pair<unsigned long, std::filesystem::path>> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (const unsigned long sequence = ChunkSequence(it->path()); sequence != 0)
            found.emplace_back(sequence, it->path());
    std::sort(found.begin(), found.end());
    std::vector<std::filesystem::path> files;
    for (auto& [sequence, path] : found)
        files.push_back(std::move(path));
    return files;
}

// A chunk holds at most the whole market's history; anything larger is no chunk of ours.
constexpr std::size_t MaxChunkBytes = std::size_t{1} << 30;

// A chunk read and checked: its requests, and where its rows lie in the bytes.
struct TChunkView
{
    std::vector<TBarRequest> Requests;
    size_t RowCount = 0;
    size_t RowsAt = 0;
};

std::optional<TChunkView> ViewChunk(std::string_view bytes)
{
    if (bytes.size() < Magic.size() + 4 + 8 + 8 || bytes.substr(0, Magic.size()) != Magic)
        return std::nullopt;
    if (GetU64(bytes.data() + bytes.size() - 8) != ChunkCheckSum(bytes.substr(0, bytes.size() - 8)))
        return std::nullopt;
    const size_t linesAt = Magic.size() + 4;
    const size_t linesLength = GetU32(bytes.data() + Magic.size());
    if (linesLength > bytes.size() - linesAt - 16)
        return std::nullopt;
    TChunkView view;
    std::string_view lines = bytes.substr(linesAt, linesLength);
    while (!lines.empty())
    {
        const size_t end = lines.find('\n');
        if (end == std::string_view::npos)
            return std::nullopt;
        std::optional<TBarRequest> request = ParseRequestLine(lines.substr(0, end));
        if (!request)
            return std::nullopt;
        view.Requests.push_back(std::move(*request));
        lines.remove_prefix(end + 1);
    }
    const size_t countAt = linesAt + linesLength;
    view.RowCount = static_cast<size_t>(GetU64(bytes.data() + countAt));
    view.RowsAt = countAt + 8;
    if (view.RowCount > (bytes.size() - view.RowsAt - 8) / FixedRowBytes)
        return std::nullopt;
    return view;
}

// Whether every row fits and makes sense, without decoding it: the codes in runs of rows.
bool CheckRows(std::string_view bytes, const TChunkView& view, std::vector<std::pair<std::string, size_t>>& runs)
{
    const size_t end = bytes.size() - 8;
    size_t at = view.RowsAt;
    std::string code(5, ' ');
    for (size_t n = 0; n < view.RowCount; ++n)
    {
        if (end - at < FixedRowBytes)
            return false;
        const char* fixed = bytes.data() + at;
        const auto dayNumber = static_cast<std::int32_t>(GetU32(fixed + 8));
        if (dayNumber < -25567 || dayNumber > 84006)
            return false;
        if (runs.empty() || runs.back().first.compare(0, 5, fixed, 5) != 0)
        {
            code.assign(fixed, 5);
            if (!IsSourceCode(code))
                return false;
            runs.emplace_back(code, 0);
        }
        ++runs.back().second;
        at += FixedRowBytes;
        const auto factorLength = static_cast<unsigned char>(fixed[6]);
        if (end - at < factorLength)
            return false;
        at += factorLength;
    }
    return at == end;
}

// Walks the rows of a checked chunk; false at the first row that does not fit or make sense.
template <typename Visit>
bool VisitRows(std::string_view bytes, const TChunkView& view, Visit&& visit)
{
    const size_t end = bytes.size() - 8;
    size_t at = view.RowsAt;
    TBarRow row;
    row.Code.resize(5);
    for (size_t n = 0; n < view.RowCount; ++n)
    {
        if (end - at < FixedRowBytes)
            return false;
        const char* fixed = bytes.data() + at;
        std::memcpy(row.Code.data(), fixed, 5);
        const auto factorLength = static_cast<unsigned char>(fixed[6]);
        const auto dayNumber = static_cast<std::int32_t>(GetU32(fixed + 8));
        // Days 1900..2200, as the calendar reads them.
        if (dayNumber < -25567 || dayNumber > 84006 || !IsSourceCode(row.Code))
            return false;
        row.Day.Date = DateOfDayNumber(dayNumber);
        row.Day.Traded = fixed[5] != 0;
        std::int64_t values[6];
        for (int v = 0; v < 6; ++v)
            values[v] = static_cast<std::int64_t>(GetU64(fixed + 12 + 8 * v));
        row.Day.Open = values[0];
        row.Day.High = values[1];
        row.Day.Low = values[2];
        row.Day.Close = values[3];
        row.Day.Volume = values[4];
        row.Day.Turnover = values[5];
        at += FixedRowBytes;
        if (end - at < factorLength)
            return false;
        if (factorLength == 0)
            row.Day.AdjFactor = "1";
        else
            row.Day.AdjFactor.assign(bytes.data() + at, factorLength);
        at += factorLength;
        visit(row);
    }
    return at == end;
}

// Keeps the last row of each date, after a stable sort by date: a later chunk wins.
void SortAndDeduplicate(TRawDays& days)
{
    std::stable_sort(days.begin(), days.end(), [](const TRawDay& a, const TRawDay& b) { return a.Date < b.Date; });
    size_t kept = 0;
    for (size_t i = 0; i < days.size(); ++i)
    {
        if (i + 1 < days.size() && days[i + 1].Date == days[i].Date)
            continue;
        if (kept != i)
            days[kept] = std::move(days[i]);
        ++kept;
    }
    days.resize(kept);
}

std::map<std::string, TRawDays> LoadFolder(const std::filesystem::path& folder, std::vector<std::string>& warnings,
                                           std::map<std::string, std::string>* sourceCodes)
{
    struct TStock
    {
        TRawDays Days;
        bool Sorted = true;
    };
    std::unordered_map<std::string, TStock> stocks;
    std::string lastCode;
    TStock* last = nullptr;
    for (const std::filesystem::path& file : ChunkFiles(folder))
    {
        std::string problem;
        const std::optional<std::string> bytes = ReadOwnFile(file, MaxChunkBytes, problem);
        if (!bytes)
        {
            // Gone since the folder was listed (compacted away) says nothing; anything else is named.
            if (!problem.empty())
                warnings.push_back(file.string() + ": " + problem);
            continue;
        }
        const std::optional<TChunkView> view = ViewChunk(*bytes);
        if (!view)
        {
            warnings.push_back(file.string() + ": 日足のファイルが壊れているため読みません");
            continue;
        }
        // Checked whole before any row is taken, so a damaged chunk adds nothing; the rows of
        // each stock are counted on the way, so its days grow once, not row by row.
        std::vector<std::pair<std::string, size_t>> runs;
        if (!CheckRows(*bytes, *view, runs))
        {
            warnings.push_back(file.string() + ": 日足のファイルが壊れているため読みません");
            continue;
        }
        for (const auto& [code, count] : runs)
        {
            TRawDays& days = stocks[code].Days;
            if (days.capacity() < days.size() + count)
                days.reserve(std::max(days.size() + count, days.capacity() * 2));
        }
        VisitRows(*bytes, *view, [&](const TBarRow& row) {
            if (last == nullptr || row.Code != lastCode)
            {
                lastCode = row.Code;
                last = &stocks[row.Code];
            }
            if (!last->Days.empty() && !(last->Days.back().Date < row.Day.Date))
                last->Sorted = false;
            last->Days.push_back(row.Day);
        });
    }
    std::map<std::string, TRawDays> byCode;
    for (auto& [code, stock] : stocks)
    {
        if (!stock.Sorted)
            SortAndDeduplicate(stock.Days);
        const std::string served = ServedCode(code);
        if (sourceCodes)
            (*sourceCodes)[served] = code;
        byCode[served] = std::move(stock.Days); // served codes are one to one with source codes
    }
    return byCode;
}

} // namespace

// Catches a chunk damaged on disk; eight bytes a step, so loading stays fast.
std::uint64_t ChunkCheckSum(std::string_view bytes)
{
    std::uint64_t sum = 0x9e3779b97f4a7c15ull;
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8)
        sum = ((sum ^ GetU64(bytes.data() + i)) * 0x100000001b3ull) ^ (sum >> 29);
    std::uint64_t tail = 0;
    for (size_t k = 0; i + k < bytes.size(); ++k)
        tail |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i + k])) << (8 * k);
    return ((sum ^ tail ^ bytes.size()) * 0x100000001b3ull) ^ (sum >> 29);
}

TBarStore::TBarStore(const std::filesystem::path& dataFolder, TMode mode) : Folder(dataFolder / "bars")
{
    if (mode == TMode::ReadOnly)
    {
        ReadRequests();
        return;
    }
    std::filesystem::create_directories(Folder);
    const std::filesystem::path lock = Folder / ".lock";
    LockFd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (LockFd < 0)
        throw SystemError(lock.string() + " を開けません");
    if (::flock(LockFd, LOCK_EX | LOCK_NB) != 0)
    {
        ::close(LockFd);
        throw std::runtime_error("ほかの取得が " + Folder.string() +
                                 " に書き込んでいます。それが終わるまで待ってください");
    }
    // Temp files left by a killed writer hold nothing committed.
    std::error_code error;
    for (std::filesystem::directory_iterator it(Folder, error), end; !error && it != end; it.increment(error))
    {
        const std::string name = it->path().filename().string();
        if (name.size() > 4 && name.front() == '.' && name.ends_with(".tmp"))
            std::filesystem::remove(it->path(), error);
    }
    ReadRequests();
}

void TBarStore::ReadRequests()
{
    for (const std::filesystem::path& file : ChunkFiles(Folder))
    {
        NextSequence = std::max(NextSequence, ChunkSequence(file) + 1);
        ++Chunks;
        std::string problem;
        const std::optional<std::string> bytes = ReadOwnFile(file, MaxChunkBytes, problem);
        const std::optional<TChunkView> view = bytes ? ViewChunk(*bytes) : std::nullopt;
        if (!view)
            continue; // its requests count as never answered, so they are asked again
        StoredRequests.insert(StoredRequests.end(), view->Requests.begin(), view->Requests.end());
    }
}

TBarStore::~TBarStore()
{
    if (LockFd >= 0)
        ::close(LockFd);
}

void TBarStore::Commit(const TBarRequest& request, const std::vector<TBarRow>& rows)
{
    WriteDurably(ChunkPath(Folder, NextSequence), ChunkBytes({request}, rows.size(), [&](std::string& out) {
                     for (const TBarRow& row : rows)
                         AppendRow(out, row.Code, row.Day);
                     return static_cast<std::uint64_t>(rows.size());
                 }));
    ++NextSequence;
    ++Chunks;
    StoredRequests.push_back(request);
}

std::map<TDate, TQueryState> TBarStore::Days() const
{
    return DayStates(StoredRequests);
}

std::map<std::string, TQueryState> TBarStore::Codes() const
{
    return QueryStates(StoredRequests, TBarRequest::TKind::Code);
}

void TBarStore::CompactIfOver(size_t threshold)
{
    if (Chunks <= threshold)
        return;
    const std::vector<std::filesystem::path> files = ChunkFiles(Folder);
    if (files.empty())
        return;
    std::vector<std::string> warnings;
    std::map<std::string, std::string> sourceCodes;
    const std::map<std::string, TRawDays> days = LoadFolder(Folder, warnings, &sourceCodes);
    if (!warnings.empty())
        return; // a damaged chunk stays where someone can look at it, and nothing is folded over it
    size_t rowCount = 0;
    for (const auto& [served, stockDays] : days)
        rowCount += stockDays.size();
    // The folded chunk takes the newest chunk's name: renamed over it, it replaces that chunk
    // at once, and the older ones it holds are removed after.
    WriteDurably(files.back(), ChunkBytes(StoredRequests, rowCount, [&](std::string& out) {
                     for (const auto& [served, stockDays] : days)
                         for (const TRawDay& day : stockDays)
                             AppendRow(out, sourceCodes[served], day);
                     return static_cast<std::uint64_t>(rowCount);
                 }));
    for (size_t i = 0; i + 1 < files.size(); ++i)
        std::filesystem::remove(files[i]);
    SyncFolder(Folder);
    Chunks = 1;
}

std::map<std::string, TRawDays> LoadRawDays(const std::filesystem::path& dataFolder, std::vector<std::string>& warnings,
                                            std::map<std::string, std::string>* sourceCodes)
{
    return LoadFolder(dataFolder / "bars", warnings, sourceCodes);
}

std::map<std::string, TRawDays> LoadRawDays(const std::filesystem::path& dataFolder)
{
    std::vector<std::string> warnings;
    std::map<std::string, TRawDays> days = LoadRawDays(dataFolder, warnings);
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "orvanta-service: %s\n", warning.c_str());
    return days;
}
