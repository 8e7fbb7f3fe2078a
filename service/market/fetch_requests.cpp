#include "market/fetch_requests.h"

std::map<std::string, TQueryState> QueryStates(const std::vector<TBarRequest>& requests, TBarRequest::TKind kind)
{
    std::map<std::string, TQueryState> states;
    for (const TBarRequest& request : requests)
    {
        if (request.Kind != kind)
            continue;
        TQueryState& state = states[request.Key];
        if (request.Page == 0)
            state = TQueryState{};
        else if (request.Page != state.Pages)
            continue; // a page of an asking that a later first page replaced
        state.Rows += request.Rows;
        state.Pages = request.Page + 1;
        state.NextPage = request.NextPage;
        state.Complete = request.NextPage.empty();
        state.AskedOn = request.AskedOn;
    }
    return states;
}

std::map<TDate, TQueryState> DayStates(const std::vector<TBarRequest>& requests)
{
    std::map<TDate, TQueryState> days;
    for (auto& [key, state] : QueryStates(requests, TBarRequest::TKind::Date))
        if (const std::optional<TDate> day = ParseDate(key))
            days.emplace(*day, std::move(state));
    return days;
}

std::string ServedCode(const std::string& sourceCode)
{
    if (sourceCode.size() == 5 && sourceCode[4] == '0')
        return sourceCode.substr(0, 4);
    return sourceCode;
}

bool IsSourceCode(const std::string& code)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const auto digitOrLetter = [&](char c) { return digit(c) || (c >= 'A' && c <= 'Z'); };
    return code.size() == 5 && code[0] >= '1' && code[0] <= '9' && digitOrLetter(code[1]) && digit(code[2]) &&
           digitOrLetter(code[3]) && digit(code[4]);
}
