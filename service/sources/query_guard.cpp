#include "sources/query_guard.h"

#include <algorithm>

namespace {

constexpr std::size_t RowsNamed = 3;

} // namespace

std::string TPaginationGuard::Answered(const std::string& next)
{
    ++Pages;
    if (next.empty())
        return {};
    if (next.size() > MaxKeyBytes)
        return "次のページの pagination_key が " + std::to_string(next.size()) + " バイトあり、上限の " +
               std::to_string(MaxKeyBytes) + " バイトを超えています";
    if (Pages >= MaxPages)
        return "一つの問い合わせで " + std::to_string(MaxPages) + " ページを超えて続いています";
    if (!Seen.insert(next).second)
        return "この問い合わせで前に返されたのと同じ pagination_key がまた返されました (ページが終わりません)";
    return {};
}

void TPaginationGuard::Restart()
{
    Pages = 0;
    Seen.clear();
}

TRowsRefused KeepAsked(std::vector<TBarRow>& rows, const TQueryScope& scope)
{
    TRowsRefused refused;
    std::erase_if(rows, [&](const TBarRow& row) {
        const char* why = nullptr;
        if (!scope.Code.empty() && row.Code != scope.Code)
            why = "ほかの銘柄";
        else if (row.Day.Date > scope.Today)
            why = "今日より後の日";
        else if (row.Day.Date < scope.From || scope.To < row.Day.Date)
            why = scope.Code.empty() ? "ほかの日" : "範囲の外の日";
        if (why == nullptr)
            return false;
        if (refused.Named.size() < RowsNamed)
            refused.Named.push_back(row.Code + " " + DashedDate(row.Day.Date) + " (" + why + ")");
        ++refused.Count;
        return true;
    });
    return refused;
}

std::string RefusedRowsText(const TRowsRefused& refused)
{
    std::string text = "問い合わせていない行 " + std::to_string(refused.Count) + " 行を保存しませんでした: ";
    for (size_t i = 0; i < refused.Named.size(); ++i)
        text += (i == 0 ? "" : "、") + refused.Named[i];
    if (static_cast<size_t>(refused.Count) > refused.Named.size())
        text += " ほか";
    return text;
}
