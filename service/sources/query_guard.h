#pragma once

#include "market/bar_store.h"

#include <set>
#include <string>
#include <vector>

// What the answers of one query may bring: pages that come to an end, and rows of what was
// asked. A source that breaks this ends the query; what it answered before is kept.

//! The pages of one query. A pagination key is followed only when the query has not seen it,
//! it is at most MaxKeyBytes long and the page it asks for is within MaxPages: a source that
//! answers the same key forever, or one too long to send back, would otherwise be asked
//! without end.
class TPaginationGuard
{
public:
    static constexpr std::size_t MaxKeyBytes = 4096;
    static constexpr int MaxPages = 10000;

    //! `pagesBefore`: pages of the query an earlier run stored.
    explicit TPaginationGuard(int pagesBefore = 0) : Pages(pagesBefore) {}

    //! One more page answered, `next` its key of the page after (empty on the last). Empty when
    //! that page may be asked; else why not, as a phrase.
    std::string Answered(const std::string& next);

    //! The query is asked again from its first page.
    void Restart();

private:
    int Pages;
    std::set<std::string> Seen;
};

//! What a query asked for: one stock (Code, the source's 5 characters) over From..To, or the
//! whole market (Code empty) of From = To. No row after Today is ever kept.
struct TQueryScope
{
    std::string Code;
    TDate From;
    TDate To;
    TDate Today;
};

//! Rows an answer brought that were not asked for.
struct TRowsRefused
{
    int Count = 0;
    std::vector<std::string> Named; // the first few: "99840 2025-03-05 (ほかの銘柄)"
};

//! Removes the rows outside `scope` from `rows`; answers what went.
TRowsRefused KeepAsked(std::vector<TBarRow>& rows, const TQueryScope& scope);

//! One sentence for the user: how many rows were refused and which, the first few by name.
std::string RefusedRowsText(const TRowsRefused& refused);
