#pragma once

#include "market/raw_days.h"

#include <map>
#include <string>
#include <vector>

// What the fetch has asked the data API and what each answer brought: the record it resumes
// from, whichever store keeps it.

//! One answered request: a page of a date query (the whole market of one day) or of a code
//! query (one stock over a range).
struct TBarRequest
{
    enum class TKind
    {
        Date,
        Code
    };
    TKind Kind = TKind::Date;
    std::string Key;      // "2026-03-02" for a date query, the source's code ("72030") for a code query
    int Page = 0;         // 0 for the first page of the query
    std::string NextPage; // the pagination key of the page after this one; empty on the last page
    TDate AskedOn;        // the local day the request was answered
    int Rows = 0;         // rows of this page kept

    bool operator==(const TBarRequest&) const = default;
};

//! A row of an answer: the source's 5-character code ("72030", "130A0", "25935") and its day.
struct TBarRow
{
    std::string Code;
    TRawDay Day;
};

//! What the requests of one query came to, over all chunks.
struct TQueryState
{
    bool Complete = false; // its last page is stored
    int Rows = 0;          // rows its pages brought, over the latest asking
    int Pages = 0;         // pages stored of the latest asking
    std::string NextPage;  // where an incomplete asking goes on
    TDate AskedOn;         // when its latest page was answered
};

//! Each query's state from the requests in the order they were answered: a first page starts
//! the query afresh, a page out of turn is left out. By the query's key.
std::map<std::string, TQueryState> QueryStates(const std::vector<TBarRequest>& requests, TBarRequest::TKind kind);

//! Date queries by day.
std::map<TDate, TQueryState> DayStates(const std::vector<TBarRequest>& requests);

//! The code the service serves for a source code: the class digit 0 is dropped ("72030" ->
//! "7203", "130A0" -> "130A"); any other class digit keeps all five characters ("25935").
std::string ServedCode(const std::string& sourceCode);

//! Whether a code has a form the source uses: four characters (a digit 1-9, a digit or an
//! upper-case letter, a digit, a digit or an upper-case letter) and a class digit.
bool IsSourceCode(const std::string& code);
