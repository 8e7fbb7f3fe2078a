#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// A thin hold on SQLite's C API: a connection, prepared statements and transactions, each closed
// by its destructor, and every failure thrown with the file's name and SQLite's own words.

//! A database that cannot be used as asked; what() is one line naming the file.
class TDbError : public std::runtime_error
{
public:
    TDbError(const std::string& what, int code) : std::runtime_error(what), Code(code) {}
    int Code; // SQLite's primary result code (SQLITE_FULL, SQLITE_CORRUPT, …)
};

class TStatement;

class TSqliteDb
{
public:
    enum class TMode
    {
        ReadOnly,
        ReadWrite
    };

    //! Opens an existing file; never creates one.
    TSqliteDb(const std::filesystem::path& file, TMode mode);
    ~TSqliteDb();
    TSqliteDb(const TSqliteDb&) = delete;
    TSqliteDb& operator=(const TSqliteDb&) = delete;

    //! Runs statements that return nothing.
    void Exec(const char* sql);
    //! The first column of the first row of `sql` as an integer (0 without a row).
    std::int64_t Integer(const char* sql);

    const std::filesystem::path& File() const { return File_; }
    sqlite3* Handle() const { return Db_; }

    //! Throws TDbError naming the file, `doing` and SQLite's message for `code`.
    [[noreturn]] void Fail(int code, std::string_view doing) const;

private:
    sqlite3* Db_ = nullptr;
    std::filesystem::path File_;
};

class TStatement
{
public:
    TStatement(TSqliteDb& db, const char* sql);
    ~TStatement();
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    // Parameters count from 1, as in SQL.
    TStatement& Bind(int index, std::string_view text);
    TStatement& Bind(int index, std::int64_t value);
    TStatement& Bind(int index, double value);
    TStatement& BindNull(int index);

    //! True while a row is there to read; false once done.
    bool Step();
    //! Runs a statement that returns no row, then readies it for new parameters.
    void Run();
    void Reset();

    // Columns count from 0. A null reads as nothing.
    bool IsNull(int column) const;
    std::string Text(int column) const;
    std::int64_t Integer(int column) const;
    double Real(int column) const;
    //! 1 integer, 2 float, 3 text, 4 blob, 5 null: SQLite's storage class of the value.
    int Type(int column) const;

private:
    TSqliteDb& Db_;
    sqlite3_stmt* Stmt_ = nullptr;
};

//! BEGIN IMMEDIATE now; ROLLBACK when it goes out of scope uncommitted.
class TTransaction
{
public:
    explicit TTransaction(TSqliteDb& db);
    ~TTransaction();
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;

    void Commit();

private:
    TSqliteDb& Db_;
    bool Open_ = true;
};
