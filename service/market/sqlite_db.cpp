#include "market/sqlite_db.h"

#include <sqlite3.h>

TSqliteDb::TSqliteDb(const std::filesystem::path& file, TMode mode) : File_(file)
{
    const int flags = (mode == TMode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    const int code = sqlite3_open_v2(file.c_str(), &Db_, flags, nullptr);
    if (code != SQLITE_OK)
        Fail(code, "開く");
    sqlite3_extended_result_codes(Db_, 0);
    // Another writer (an import beside a fetch) holds the file only for one answer's transaction.
    sqlite3_busy_timeout(Db_, 10'000);
}

TSqliteDb::~TSqliteDb()
{
    sqlite3_close_v2(Db_);
}

void TSqliteDb::Exec(const char* sql)
{
    const int code = sqlite3_exec(Db_, sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        Fail(code, sql);
}

std::int64_t TSqliteDb::Integer(const char* sql)
{
    TStatement statement(*this, sql);
    return statement.Step() ? statement.Integer(0) : 0;
}

void TSqliteDb::Fail(int code, std::string_view doing) const
{
    const char* message = Db_ && sqlite3_errcode(Db_) == code ? sqlite3_errmsg(Db_) : sqlite3_errstr(code);
    throw TDbError(File_.string() + ": " + std::string(doing) + ": " + message, code & 0xff);
}

TStatement::TStatement(TSqliteDb& db, const char* sql) : Db_(db)
{
    const int code = sqlite3_prepare_v3(db.Handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &Stmt_, nullptr);
    if (code != SQLITE_OK)
        db.Fail(code, sql);
}

TStatement::~TStatement()
{
    sqlite3_finalize(Stmt_);
}

TStatement& TStatement::Bind(int index, std::string_view text)
{
    const int code = sqlite3_bind_text64(Stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (code != SQLITE_OK)
        Db_.Fail(code, sqlite3_sql(Stmt_));
    return *this;
}

TStatement& TStatement::Bind(int index, std::int64_t value)
{
    const int code = sqlite3_bind_int64(Stmt_, index, value);
    if (code != SQLITE_OK)
        Db_.Fail(code, sqlite3_sql(Stmt_));
    return *this;
}

TStatement& TStatement::Bind(int index, double value)
{
    const int code = sqlite3_bind_double(Stmt_, index, value);
    if (code != SQLITE_OK)
        Db_.Fail(code, sqlite3_sql(Stmt_));
    return *this;
}

TStatement& TStatement::BindNull(int index)
{
    const int code = sqlite3_bind_null(Stmt_, index);
    if (code != SQLITE_OK)
        Db_.Fail(code, sqlite3_sql(Stmt_));
    return *this;
}

bool TStatement::Step()
{
    const int code = sqlite3_step(Stmt_);
    if (code == SQLITE_ROW)
        return true;
    if (code == SQLITE_DONE)
        return false;
    sqlite3_reset(Stmt_);
    Db_.Fail(code, sqlite3_sql(Stmt_));
}

void TStatement::Run()
{
    while (Step())
    {}
    Reset();
}

void TStatement::Reset()
{
    sqlite3_reset(Stmt_);
    sqlite3_clear_bindings(Stmt_);
}

bool TStatement::IsNull(int column) const
{
    return sqlite3_column_type(Stmt_, column) == SQLITE_NULL;
}

std::string TStatement::Text(int column) const
{
    const auto* text = sqlite3_column_text(Stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(Stmt_, column)))
                : std::string();
}

std::int64_t TStatement::Integer(int column) const
{
    return sqlite3_column_int64(Stmt_, column);
}

double TStatement::Real(int column) const
{
    return sqlite3_column_double(Stmt_, column);
}

int TStatement::Type(int column) const
{
    return sqlite3_column_type(Stmt_, column);
}

TTransaction::TTransaction(TSqliteDb& db) : Db_(db)
{
    db.Exec("BEGIN IMMEDIATE");
}

TTransaction::~TTransaction()
{
    if (Open_)
        sqlite3_exec(Db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void TTransaction::Commit()
{
    Db_.Exec("COMMIT");
    Open_ = false;
}
