#include "common/market_names.h"

#include <algorithm>

namespace {

// MarketNameOf indexes the table by TMarketId.
constexpr bool RowsInMarketOrder()
{
    for (std::size_t i = 0; i < MarketNames.size(); ++i)
        if (MarketNames[i].Market != static_cast<TMarketId>(i))
            return false;
    return true;
}
static_assert(RowsInMarketOrder());

template <typename TMatch>
const TMarketName* FirstMarket(TMatch match)
{
    const auto row = std::find_if(MarketNames.begin(), MarketNames.end(), match);
    return row == MarketNames.end() ? nullptr : &*row;
}

} // namespace

const TMarketName* MarketOfListName(std::string_view listName)
{
    return FirstMarket([&](const TMarketName& row) { return row.ListName == listName; });
}

const TMarketName* MarketOfMasterName(std::string_view masterName)
{
    return FirstMarket([&](const TMarketName& row) { return row.MasterName == masterName; });
}

std::string_view OpenedSuffixOf(std::string_view keySuffix)
{
    const TMarketName* row = FirstMarket([&](const TMarketName& market) { return market.KeySuffix == keySuffix; });
    return row ? row->OpenedSuffix : keySuffix;
}

std::optional<std::string_view> KeySuffixOfMarketName(std::string_view shown)
{
    const TMarketName* row = FirstMarket([&](const TMarketName& market) { return market.Shown == shown; });
    if (!row)
        return std::nullopt;
    return row->OpenedSuffix;
}
