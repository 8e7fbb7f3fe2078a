#include "common/market_names.h"

#include "common/japanese_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace {

// The program reads the list's Shift_JIS names, the service writes the list from its UTF-8
// master: a row whose two names differ would make the service's stocks empty entries.
TEST(MarketNames, TheListNameIsTheMasterNameInShiftJis)
{
    for (const TMarketName& market : MarketNames)
    {
        SCOPED_TRACE(std::string(market.MasterName));
        EXPECT_EQ(ConvertText(market.MasterName, TTextEncoding::Utf8, TTextEncoding::Cp932), market.ListName);
        EXPECT_EQ(MarketOfListName(market.ListName), &market);
        EXPECT_EQ(MarketOfMasterName(market.MasterName), &market);
    }
}

TEST(MarketNames, EachUseHasItsColumn)
{
    struct Row
    {
        const char* name;
        std::string listName; // Shift_JIS
        const char* keySuffix;
        const char* openedSuffix;
        std::string shown; // UTF-8
    };
    const Row rows[] = {
        {"東証１部 shows its exchange", "\x93\x8c\x8f\xd8\x82\x50\x95\x94", ".t", ".t", "\xe6\x9d\xb1\xe8\xa8\xbc"},
        {"大阪２部", "\x91\xe5\x8d\xe3\x82\x51\x95\x94", ".o", ".o", "\xe5\xa4\xa7\xe9\x98\xaa"},
        {"マザーズ opens without a market", "\x83\x7d\x83\x55\x81\x5b\x83\x59", ".m", "  ",
         "\xe3\x83\x9e\xe3\x82\xb6\xe3\x83\xbc\xe3\x82\xba"},
        {"ヘラクレス", "\x83\x77\x83\x89\x83\x4e\x83\x8c\x83\x58", ".h", "  ",
         "\xe3\x83\x98\xe3\x83\xa9\xe3\x82\xaf\xe3\x83\xac\xe3\x82\xb9"},
        {"名証プレミア shows itself", "\x96\xbc\x8f\xd8\x83\x76\x83\x8c\x83\x7e\x83\x41", ".n", ".n",
         "\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\x97\xe3\x83\xac\xe3\x83\x9f\xe3\x82\xa2"},
        {"福証Q-Board, half-width Q-Board",
         "\x95\x9f\x8f\xd8"
         "Q-Board",
         ".f", "  ",
         "\xe7\xa6\x8f\xe8\xa8\xbc"
         "Q-Board"},
        {"東証 alone: funds and the like", "\x93\x8c\x8f\xd8", ".t", ".t", "\xe6\x9d\xb1\xe8\xa8\xbc"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const TMarketName* market = MarketOfListName(row.listName);
        ASSERT_NE(market, nullptr);
        EXPECT_EQ(market->KeySuffix, row.keySuffix);
        EXPECT_EQ(market->OpenedSuffix, row.openedSuffix);
        EXPECT_EQ(market->Shown, row.shown);
    }
    EXPECT_EQ(MarketOfListName("\x93\x8c\x8f\xd8"
                               "1"
                               "\x95\x94"),
              nullptr)
        << "a half-width 1 is no market";
    EXPECT_EQ(MarketOfListName("\x95\x9f\x8f\xd8\x82\x70-Board"), nullptr) << "nor is a full-width Q";
    EXPECT_EQ(MarketOfMasterName("Tokyo"), nullptr);
}

// A result row keeps only the shown name; every market showing it must open the same way.
TEST(MarketNames, MarketsShowingOneNameOpenAlike)
{
    for (const TMarketName& market : MarketNames)
    {
        SCOPED_TRACE(std::string(market.MasterName));
        EXPECT_EQ(KeySuffixOfMarketName(market.Shown), market.OpenedSuffix);
    }
}

TEST(KeySuffixOfMarketName, EveryMarketNameOfColumnTwoOpensWithItsSuffix)
{
    struct Row
    {
        const char* name;
        std::optional<std::string_view> suffix;
    };
    const Row rows[] = {
        {"\xe6\x9d\xb1\xe8\xa8\xbc", ".t"}, // 東証
        {"JASDAQ", ".q"},
        {"\xe3\x83\x9e\xe3\x82\xb6\xe3\x83\xbc\xe3\x82\xba", "  "},                         // マザーズ
        {"\xe7\xa6\x8f\xe8\xa8\xbc", "  "},                                                 // 福証
        {"\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\xa0", ".t"},                         // プライム
        {"\xe3\x82\xb9\xe3\x82\xbf\xe3\x83\xb3\xe3\x83\x80\xe3\x83\xbc\xe3\x83\x89", ".t"}, // スタンダード
        {"\xe3\x82\xb0\xe3\x83\xad\xe3\x83\xbc\xe3\x82\xb9", ".t"},                         // グロース
        {"\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\x97\xe3\x83\xac\xe3\x83\x9f\xe3\x82\xa2", ".n"}, // 名証プレミア
        {"\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\xa1\xe3\x82\xa4\xe3\x83\xb3", ".n"},             // 名証メイン
        {"\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\x8d\xe3\x82\xaf\xe3\x82\xb9\xe3\x83\x88", ".n"}, // 名証ネクスト
        {"\xe6\x9c\xad\xe8\xa8\xbc\xe3\x82\xa2\xe3\x83\xb3\xe3\x83\x93\xe3\x82\xb7\xe3\x83\xa3\xe3\x82\xb9",
         ".s"}, // 札証アンビシャス
        {"\xe7\xa6\x8f\xe8\xa8\xbc"
         "Q-Board",
         "  "}, // 福証Q-Board
        {"\xe7\xa6\x8f\xe8\xa8\xbc"
         "Q-board",
         std::nullopt}, // byte for byte
        {"", std::nullopt},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(KeySuffixOfMarketName(row.name), row.suffix);
    }
}

TEST(OpenedSuffixOf, GivesTheMarketsWithoutASuffixOfTheirOwnTwoBlanks)
{
    const std::pair<const char*, const char*> rows[] = {
        {".t", ".t"}, {".o", ".o"}, {".q", ".q"}, {".n", ".n"}, {".s", ".s"},
        {".f", "  "}, {".m", "  "}, {".h", "  "}, {"", ""},     {".z", ".z"},
    };
    for (const auto& [keySuffix, opened] : rows)
    {
        SCOPED_TRACE(keySuffix);
        EXPECT_EQ(OpenedSuffixOf(keySuffix), opened);
    }
}

TEST(SectorNames, ThirtyFourSectorsTheListCanCarry)
{
    std::set<std::string_view> names;
    std::set<std::string_view> codes;
    for (const TSectorName& sector : SectorNames)
    {
        SCOPED_TRACE(std::string(sector.Name));
        names.insert(sector.Name);
        codes.insert(sector.S33Code);
        EXPECT_NO_THROW(ConvertText(sector.Name, TTextEncoding::Utf8, TTextEncoding::Cp932));
    }
    EXPECT_EQ(names.size(), SectorNames.size());
    EXPECT_EQ(codes.size(), SectorNames.size());
    EXPECT_EQ(ConvertText(SectorNames.front().Name, TTextEncoding::Utf8, TTextEncoding::Cp932),
              "\x90\x85\x8e\x59\xa5\x94\x5f\x97\xd1\x8b\xc6"); // 水産･農林業
    EXPECT_EQ(SectorNames.front().S33Code, "0050");
    EXPECT_EQ(SectorNames.back().Name, "\xe6\x8a\x95\xe4\xbf\xa1"); // 投信
    EXPECT_EQ(SectorNames.back().S33Code, "9999");
}

} // namespace
