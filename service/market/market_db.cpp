#include "market/market_db.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>

namespace {

constexpr const char* SchemaStatements = R"sql(
CREATE TABLE stocks (code TEXT PRIMARY KEY, name TEXT NOT NULL, market TEXT NOT NULL, sector TEXT NOT NULL,
  source_code TEXT);
CREATE TABLE daily_bars (code TEXT NOT NULL, date TEXT NOT NULL, open REAL, high REAL, low REAL, close REAL,
  volume INTEGER, turnover INTEGER, adj_factor TEXT NOT NULL DEFAULT '1', PRIMARY KEY (code, date)) WITHOUT ROWID;
PRAGMA user_version = 1;
)sql";

constexpr const char* OwnTables = R"sql(
CREATE TABLE IF NOT EXISTS orvanta_requests (seq INTEGER PRIMARY KEY, kind TEXT NOT NULL, key TEXT NOT NULL,
  page INTEGER NOT NULL, next_page TEXT NOT NULL, asked_on TEXT NOT NULL, rows INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS orvanta_meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
)sql";

constexpr const char* ConvertedKey = "converted";

// The contract's columns; a table may have more.
struct TContractTable
{
    const char* Name;
    std::vector<const char*> Columns;
};

const TContractTable ContractTables[] = {
    {"stocks", {"code", "name", "market", "sector", "source_code"}},
    {"daily_bars", {"code", "date", "open", "high", "low", "close", "volume", "turnover", "adj_factor"}},
};

[[noreturn]] void Refuse(const std::filesystem::path& file, const std::string& why, int code = SQLITE_CANTOPEN)
{
    throw TDbError(file.string() + ": " + why, code);
}

std::uint32_t BigEndian(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

//! Refuses what SQLite would open without complaint or hang on: a special file, another user's,
//! one others may write, a file that is no database or was cut short. True for an empty file.
bool CheckFile(const std::filesystem::path& file, const struct stat& info)
{
    if (!S_ISREG(info.st_mode))
        Refuse(file, "通常のファイルではありません");
    if (info.st_uid != ::geteuid())
        Refuse(file, "ほかのユーザーのファイルです");
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        Refuse(file, "ほかのユーザーも書き込めるファイルです");
    if (info.st_size == 0)
        return true;
    unsigned char header[100] = {};
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(header), sizeof header);
    if (in.gcount() != sizeof header || std::memcmp(header, "SQLite format 3", 16) != 0)
        Refuse(file, "SQLite のデータベースではありません", SQLITE_NOTADB);
    // The size the header gives counts only when it was written with the change counter.
    const std::uint32_t pageSize = BigEndian(header + 16, 2) == 1 ? 65536 : BigEndian(header + 16, 2);
    const std::uint32_t pages = BigEndian(header + 28, 4);
    if (BigEndian(header + 92, 4) == BigEndian(header + 24, 4) &&
        static_cast<std::uint64_t>(info.st_size) < std::uint64_t{pageSize} * pages)
        Refuse(file,
               "途中で切れています (" + std::to_string(std::uint64_t{pageSize} * pages) + " バイトのはずが " +
                   std::to_string(info.st_size) + " バイト)",
               SQLITE_CORRUPT);
    return false;
}

//! Readies <folder>/market.db for SQLite to open; true when it is new or empty.
bool PrepareFile(const std::filesystem::path& folder, TMarketDb::TMode mode)
{
    const std::filesystem::path file = folder / MarketDbFileName;
    bool fresh = false;
    struct stat info
    {};
    if (::stat(file.c_str(), &info) != 0)
    {
        if (errno != ENOENT || mode == TMarketDb::TMode::ReadOnly)
            Refuse(file, std::strerror(errno));
        // Made private before SQLite sees it; its journal files take the same mode.
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            Refuse(file, std::strerror(errno));
        ::close(fd);
        fresh = true;
    }
    else
        fresh = CheckFile(file, info);
    if (fresh && mode == TMarketDb::TMode::ReadOnly)
        Refuse(file, "空のファイルです");
    return fresh;
}

bool HasTable(TSqliteDb& db, const char* name)
{
    TStatement statement(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
    statement.Bind(1, std::string_view(name));
    return statement.Step();
}

void CheckSchema(TSqliteDb& db, TMarketDb::TMode mode, bool fresh)
{
    const std::int64_t version = db.Integer("PRAGMA user_version");
    if (version > MarketDbSchema)
        Refuse(db.File(), "この版より新しい形式 (user_version " + std::to_string(version) + ") です");
    const bool empty = !HasTable(db, "stocks") && !HasTable(db, "daily_bars");
    if (fresh || (empty && version == 0 && mode == TMarketDb::TMode::Write))
    {
        TTransaction transaction(db);
        db.Exec(SchemaStatements);
        transaction.Commit();
    }
    for (const TContractTable& table : ContractTables)
    {
        if (!HasTable(db, table.Name))
            Refuse(db.File(), std::string("表 ") + table.Name + " がありません");
        std::vector<std::string> present;
        TStatement columns(db, (std::string("PRAGMA table_info(") + table.Name + ")").c_str());
        while (columns.Step())
            present.push_back(columns.Text(1));
        for (const char* column : table.Columns)
            if (std::find(present.begin(), present.end(), column) == present.end())
                Refuse(db.File(), std::string("表 ") + table.Name + " に列 " + column + " がありません");
    }
}

const char* KindText(TBarRequest::TKind kind)
{
    return kind == TBarRequest::TKind::Date ? "date" : "code";
}

std::optional<TDate> DashedDateOf(std::string_view text)
{
    return text.size() == 10 && text[4] == '-' ? ParseDate(text) : std::nullopt;
}

//! A price column in hundredths of a yen: a number above zero, at most a billion yen.
std::optional<std::int64_t> Hundredths(const TStatement& row, int column)
{
    const int type = row.Type(column);
    if (type != SQLITE_INTEGER && type != SQLITE_FLOAT)
        return std::nullopt;
    const double yen = row.Real(column);
    if (!(yen > 0 && yen <= 1e9))
        return std::nullopt;
    return std::llround(yen * 100);
}

//! A count column: an integral number from zero, or nothing.
std::optional<std::int64_t> Count(const TStatement& row, int column)
{
    const int type = row.Type(column);
    if (type == SQLITE_INTEGER)
        return row.Integer(column) >= 0 ? std::optional(row.Integer(column)) : std::nullopt;
    if (type == SQLITE_FLOAT)
    {
        const double value = row.Real(column);
        if (value >= 0 && value < 9e18 && value == std::floor(value))
            return static_cast<std::int64_t>(value);
    }
    return std::nullopt;
}

//! The day of a daily_bars row whose columns from `first` on are date, open, high, low, close,
//! volume, turnover, adj_factor; or the reason it breaks the contract.
std::variant<TRawDay, std::string> DayOfRow(const TStatement& row, int first, TDate today)
{
    TRawDay day;
    const std::optional<TDate> date = row.Type(first) == SQLITE_TEXT ? DashedDateOf(row.Text(first)) : std::nullopt;
    if (!date)
        return std::string("日付ではありません");
    if (*date > today)
        return std::string("今日より後の日付です");
    day.Date = *date;
    int nulls = 0;
    for (int i = 1; i <= 4; ++i)
        nulls += row.IsNull(first + i);
    if (nulls == 4)
    {
        if (!row.IsNull(first + 5) && Count(row, first + 5) != std::int64_t{0})
            return std::string("値のない日に出来高があります");
    }
    else
    {
        const auto open = Hundredths(row, first + 1);
        const auto high = Hundredths(row, first + 2);
        const auto low = Hundredths(row, first + 3);
        const auto close = Hundredths(row, first + 4);
        if (!open || !high || !low || !close)
            return std::string("値段が正の数ではありません");
        if (*high < *low)
            return std::string("高値が安値より低くなっています");
        const auto volume = Count(row, first + 5);
        if (!volume)
            return std::string("出来高が 0 以上の整数ではありません");
        day.Traded = true;
        day.Open = *open;
        day.High = *high;
        day.Low = *low;
        day.Close = *close;
        day.Volume = *volume;
        if (!row.IsNull(first + 6))
        {
            const auto turnover = Count(row, first + 6);
            if (!turnover)
                return std::string("売買代金が 0 以上の整数ではありません");
            day.Turnover = *turnover;
        }
    }
    day.AdjFactor = row.Text(first + 7);
    return day;
}

void Skip(long long& count, std::string& first, std::vector<std::string>& reasons, std::size_t listed,
          std::string reason)
{
    if (count++ == 0)
        first = reason;
    if (reasons.size() < listed)
        reasons.push_back(std::move(reason));
}

void SkipBar(TDbSkips& skips, std::string_view code, const TStatement& row, int dateColumn, const std::string& why)
{
    // Outside text is cut short: a row may hold anything.
    Skip(skips.Bars, skips.FirstBar, skips.BarReasons, skips.Listed,
         std::string(code.substr(0, 40)) + " " + row.Text(dateColumn).substr(0, 40) + ": " + why);
}

//! Hundredths of a yen as yen: the double nearest the decimal, exact below 2^53 hundredths.
double Yen(std::int64_t hundredths)
{
    return static_cast<double>(hundredths) / 100.0;
}

//! The sound day of a daily_bars row whose columns from `first` on are DayColumns; nothing for a
//! row against the contract, which is counted and named in `skips`.
std::optional<TRawDay> SoundDay(const TStatement& row, int first, std::string_view code, TDate today, TDbSkips& skips)
{
    auto day = DayOfRow(row, first, today);
    if (auto* why = std::get_if<std::string>(&day))
    {
        SkipBar(skips, code, row, first, *why);
        return std::nullopt;
    }
    return std::move(std::get<TRawDay>(day));
}

constexpr const char* DayColumns = "date, open, high, low, close, volume, turnover, adj_factor";

} // namespace

bool TMarketDb::ExistsIn(const std::filesystem::path& folder)
{
    struct stat info
    {};
    return ::lstat((folder / MarketDbFileName).c_str(), &info) == 0;
}

TMarketDb::TMarketDb(const std::filesystem::path& folder, TMode mode)
    : Fresh_(PrepareFile(folder, mode)),
      Db_(folder / MarketDbFileName, mode == TMode::ReadOnly ? TSqliteDb::TMode::ReadOnly : TSqliteDb::TMode::ReadWrite)
{
    try
    {
        // Checked before anything is written, so a file that is not ours stays as it was.
        CheckSchema(Db_, mode, Fresh_);
        if (mode == TMode::Write)
        {
            Db_.Exec("PRAGMA journal_mode = WAL");
            Db_.Exec("PRAGMA synchronous = FULL");
            Db_.Exec(OwnTables);
        }
    }
    catch (const TDbError& error)
    {
        if (error.Code == SQLITE_NOTADB || error.Code == SQLITE_CORRUPT)
            Refuse(Db_.File(), error.Code == SQLITE_NOTADB ? "SQLite のデータベースではありません" : "壊れています",
                   error.Code);
        throw;
    }
}

namespace {

class TDayWriter
{
public:
    explicit TDayWriter(TSqliteDb& db)
        : Insert(db, "INSERT OR REPLACE INTO daily_bars (code, date, open, high, low, close, volume, turnover, "
                     "adj_factor) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")
    {}

    void Write(std::string_view servedCode, const TRawDay& day)
    {
        Insert.Bind(1, servedCode).Bind(2, std::string_view(DashedDate(day.Date)));
        if (day.Traded)
        {
            Insert.Bind(3, Yen(day.Open)).Bind(4, Yen(day.High)).Bind(5, Yen(day.Low)).Bind(6, Yen(day.Close));
            Insert.Bind(7, day.Volume).Bind(8, day.Turnover);
        }
        else
            for (int i = 3; i <= 8; ++i)
                Insert.BindNull(i);
        Insert.Bind(9, std::string_view(day.AdjFactor));
        Insert.Run();
    }

private:
    TStatement Insert;
};

void WriteRequest(TSqliteDb& db, const TBarRequest& request)
{
    TStatement record(db, "INSERT INTO orvanta_requests (kind, key, page, next_page, asked_on, rows) "
                          "VALUES (?, ?, ?, ?, ?, ?)");
    record.Bind(1, std::string_view(KindText(request.Kind))).Bind(2, std::string_view(request.Key));
    record.Bind(3, std::int64_t{request.Page}).Bind(4, std::string_view(request.NextPage));
    record.Bind(5, std::string_view(DashedDate(request.AskedOn))).Bind(6, std::int64_t{request.Rows});
    record.Run();
}

void WriteStocks(TSqliteDb& db, const std::vector<TDbStock>& stocks)
{
    db.Exec("DELETE FROM stocks");
    TStatement insert(db,
                      "INSERT OR REPLACE INTO stocks (code, name, market, sector, source_code) VALUES (?, ?, ?, ?, ?)");
    for (const TDbStock& stock : stocks)
    {
        insert.Bind(1, std::string_view(stock.Stock.Code)).Bind(2, std::string_view(stock.Stock.Name));
        insert.Bind(3, std::string_view(stock.Stock.Market)).Bind(4, std::string_view(stock.Stock.Sector));
        if (stock.SourceCode.empty())
            insert.BindNull(5);
        else
            insert.Bind(5, std::string_view(stock.SourceCode));
        insert.Run();
    }
}

} // namespace

void TMarketDb::Commit(const TBarRequest& request, const std::vector<TBarRow>& rows)
{
    TTransaction transaction(Db_);
    TDayWriter writer(Db_);
    for (const TBarRow& row : rows)
        writer.Write(ServedCode(row.Code), row.Day);
    WriteRequest(Db_, request);
    transaction.Commit();
}

void TMarketDb::WriteConverted(const std::vector<TDbStock>& stocks, const std::map<std::string, TRawDays>& days,
                               const std::vector<TBarRequest>& requests)
{
    TTransaction transaction(Db_);
    WriteStocks(Db_, stocks);
    TDayWriter writer(Db_);
    for (const auto& [code, stockDays] : days)
        for (const TRawDay& day : stockDays)
            writer.Write(code, day);
    for (const TBarRequest& request : requests)
        WriteRequest(Db_, request);
    TStatement mark(Db_, "INSERT OR REPLACE INTO orvanta_meta (key, value) VALUES (?, ?)");
    mark.Bind(1, std::string_view(ConvertedKey)).Bind(2, std::string_view("chunk store"));
    mark.Run();
    transaction.Commit();
}

bool TMarketDb::Converted()
{
    if (!HasTable(Db_, "orvanta_meta"))
        return false;
    TStatement select(Db_, "SELECT 1 FROM orvanta_meta WHERE key = ?");
    select.Bind(1, std::string_view(ConvertedKey));
    return select.Step();
}

std::vector<TBarRequest> TMarketDb::Requests()
{
    std::vector<TBarRequest> requests;
    if (!HasTable(Db_, "orvanta_requests"))
        return requests;
    TStatement select(Db_, "SELECT kind, key, page, next_page, asked_on, rows FROM orvanta_requests ORDER BY seq");
    while (select.Step())
    {
        const std::string kind = select.Text(0);
        const std::optional<TDate> askedOn = DashedDateOf(select.Text(4));
        if ((kind != "date" && kind != "code") || !askedOn)
            continue; // not ours to resume from
        TBarRequest request;
        request.Kind = kind == "date" ? TBarRequest::TKind::Date : TBarRequest::TKind::Code;
        request.Key = select.Text(1);
        request.Page = static_cast<int>(select.Integer(2));
        request.NextPage = select.Text(3);
        request.AskedOn = *askedOn;
        request.Rows = static_cast<int>(select.Integer(5));
        requests.push_back(std::move(request));
    }
    return requests;
}

void TMarketDb::ReplaceStocks(const std::vector<TDbStock>& stocks)
{
    TTransaction transaction(Db_);
    WriteStocks(Db_, stocks);
    transaction.Commit();
}

std::vector<TDbStock> TMarketDb::Stocks(TDbSkips& skips)
{
    std::vector<TDbStock> stocks;
    TStatement select(Db_, "SELECT code, name, market, sector, source_code FROM stocks ORDER BY code");
    while (select.Step())
    {
        TDbStock stock{{select.Text(0), select.Text(1), select.Text(2), select.Text(3)}, select.Text(4)};
        std::optional<std::string> problem;
        for (int column = 0; column < 4 && !problem; ++column)
            if (select.Type(column) != SQLITE_TEXT)
                problem = "文字列でない値があります";
        if (!problem && !IsStockCode(stock.Stock.Code))
            problem = "銘柄コードではありません";
        if (!problem)
            problem = StockProblem(stock.Stock);
        if (!problem && !select.IsNull(4) && !IsSourceCode(stock.SourceCode))
            problem = "source_code が 5 文字のコードではありません";
        if (problem)
        {
            Skip(skips.Stocks, skips.FirstStock, skips.StockReasons, skips.Listed,
                 stock.Stock.Code.substr(0, 40) + ": " + *problem);
            continue;
        }
        stocks.push_back(std::move(stock));
    }
    return stocks;
}

TRawDays TMarketDb::DaysOf(std::string_view code, TDate today, TDbSkips& skips)
{
    return DaysFrom(code, TDate{1900, 1, 1}, today, skips);
}

namespace {

// Resets a kept statement however its use ends: one left stepping would hold its read open, and
// the connection would see no later commit.
class TResetOnExit
{
public:
    explicit TResetOnExit(TStatement& statement) : Statement(statement) {}
    ~TResetOnExit() { Statement.Reset(); }
    TResetOnExit(const TResetOnExit&) = delete;
    TResetOnExit& operator=(const TResetOnExit&) = delete;

private:
    TStatement& Statement;
};

} // namespace

TStatement& TMarketDb::Prepared(std::unique_ptr<TStatement>& slot, const std::string& sql)
{
    if (!slot)
        slot = std::make_unique<TStatement>(Db_, sql.c_str());
    return *slot;
}

TRawDays TMarketDb::DaysFrom(std::string_view code, TDate first, TDate today, TDbSkips& skips)
{
    TRawDays days;
    TStatement& select = Prepared(DaysFrom_, std::string("SELECT ") + DayColumns +
                                                 " FROM daily_bars WHERE code = ? AND date >= ? ORDER BY date");
    const TResetOnExit reset(select);
    select.Bind(1, code).Bind(2, std::string_view(DashedDate(first)));
    while (select.Step())
        if (std::optional<TRawDay> day = SoundDay(select, 0, code, today, skips))
            days.push_back(std::move(*day));
    return days;
}

TRawDays TMarketDb::NewestDays(std::string_view code, std::size_t traded, TDate today, TDbSkips& skips)
{
    TRawDays days;
    // Dates after today sort last; they are read past, as rows against the contract.
    TStatement& select = Prepared(NewestDays_, std::string("SELECT ") + DayColumns +
                                                   " FROM daily_bars WHERE code = ? ORDER BY date DESC");
    const TResetOnExit reset(select);
    select.Bind(1, code);
    std::size_t found = 0;
    while (found < traded && select.Step())
        if (std::optional<TRawDay> day = SoundDay(select, 0, code, today, skips))
        {
            found += day->Traded;
            days.push_back(std::move(*day));
        }
    std::reverse(days.begin(), days.end());
    return days;
}

bool TMarketDb::HasDays(std::string_view code)
{
    TStatement& select = Prepared(HasDays_, "SELECT 1 FROM daily_bars WHERE code = ? LIMIT 1");
    const TResetOnExit reset(select);
    select.Bind(1, code);
    return select.Step();
}

namespace {

//! Reads every row of daily_bars against the contract, handing each sound day to `take`.
template <typename TTake>
long long ForEachDay(TSqliteDb& db, TDate today, TDbSkips& skips, TTake take)
{
    TStatement select(db, (std::string("SELECT code, ") + DayColumns + " FROM daily_bars ORDER BY code, date").c_str());
    long long rows = 0;
    std::string code;
    bool knownForm = false;
    while (select.Step())
    {
        ++rows;
        if (rows == 1 || select.Text(0) != code)
        {
            code = select.Text(0);
            knownForm = select.Type(0) == SQLITE_TEXT && IsStockCode(code);
        }
        if (!knownForm)
        {
            SkipBar(skips, code, select, 1, "銘柄コードではありません");
            continue;
        }
        if (std::optional<TRawDay> day = SoundDay(select, 1, code, today, skips))
            take(code, std::move(*day));
    }
    return rows;
}

} // namespace

std::map<std::string, TRawDays> TMarketDb::AllDays(TDate today, TDbSkips& skips)
{
    std::map<std::string, TRawDays> days;
    TRawDays* stock = nullptr;
    const std::string* stockCode = nullptr;
    ForEachDay(Db_, today, skips, [&](const std::string& code, TRawDay day) {
        if (!stock || *stockCode != code)
        {
            const auto placed = days.try_emplace(code).first;
            stockCode = &placed->first;
            stock = &placed->second;
        }
        stock->push_back(std::move(day));
    });
    return days;
}

long long TMarketDb::ScanDays(TDate today, TDbSkips& skips)
{
    return ForEachDay(Db_, today, skips, [](const std::string&, TRawDay) {});
}

std::vector<std::string> SkipWarnings(const std::filesystem::path& file, const TDbSkips& skips)
{
    std::vector<std::string> warnings;
    if (skips.Stocks > 0)
        warnings.push_back(file.string() + ": 表 stocks の " + std::to_string(skips.Stocks) +
                           " 行は形が合わないため使いません (最初は " + skips.FirstStock + ")");
    if (skips.Bars > 0)
        warnings.push_back(file.string() + ": 表 daily_bars の " + std::to_string(skips.Bars) +
                           " 行は形が合わないため使いません (最初は " + skips.FirstBar + ")");
    return warnings;
}
