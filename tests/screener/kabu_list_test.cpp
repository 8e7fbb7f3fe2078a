#include "screener/kabu_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

// Shift_JIS pieces of the test lines.
const std::string Tosho1 = "\x93\x8c\x8f\xd8\x82\x50\x95\x94";   // 東証１部
const std::string Tosho2 = "\x93\x8c\x8f\xd8\x82\x51\x95\x94";   // 東証２部
const std::string Meisho2 = "\x96\xbc\x8f\xd8\x82\x51\x95\x94";  // 名証２部
const std::string Mothers = "\x83\x7d\x83\x55\x81\x5b\x83\x59";  // マザーズ
const std::string Fisheries = "\x90\x85\x8e\x59\xa5\x94\x5f\x97\xd1\x8b\xc6"; // 水産･農林業
const std::string Machinery = "\x8b\x40\x8a\x42";                 // 機械
const std::string Name = "\x83\x6d\x83\x8b\x83\x6f";             // a name with trail bytes in ASCII range

std::string Line(const std::string& code, const std::string& market, const std::string& sector)
{
    return code + "," + Name + "," + market + "," + sector + "\r\n";
}

TEST(KabuList, SelectsTheSectorByteForByteAndKeepsFileOrder)
{
    const std::string file = ";code,name,market,sector\r\n" + Line("1301", Tosho1, Fisheries) +
                             Line("6301", Tosho1, Machinery) + Line("1332", Tosho2, Fisheries) +
                             Line("1333", Tosho1, Fisheries + " ") +          // trailing blank
                             Line("1334", Tosho1, Fisheries + ",extra") +     // a fifth field
                             Line("1335", "\x93\x8c\x8f\xd8" "1" "\x95\x94", Fisheries) + // half-width 1
                             Line("7203", Meisho2, Fisheries) + Line("1301", Tosho1, Fisheries);
    const TKabuList list = ParseKabuList(file, Fisheries);
    ASSERT_EQ(list.Entries.size(), 5u);
    EXPECT_FALSE(list.Truncated);
    EXPECT_EQ(list.Entries[0].CodeText, "1301");
    EXPECT_EQ(list.Entries[0].Suffix, ".t");
    EXPECT_EQ(list.Entries[0].SecondField, Name);
    EXPECT_EQ(list.Entries[1].CodeText, "1332");
    EXPECT_EQ(list.Entries[1].Suffix, ".t");
    EXPECT_TRUE(list.Entries[2].Empty) << "a half-width 1 is not a market";
    EXPECT_TRUE(list.Entries[2].CodeText.empty());
    EXPECT_EQ(list.Entries[3].Suffix, ".n");
    EXPECT_EQ(list.Entries[4].CodeText, "1301") << "a stock on two lines gives two entries";

    const TKabuList all = ParseKabuList(file, AllSectorsText);
    EXPECT_EQ(all.Entries.size(), 8u) << "every non-comment line under the whole-market item";
}

// Today's segment names beside the old ones in one file: each keeps its suffix, and column 2
// shows an old name's exchange but a new name as it is (MarketNames).
TEST(KabuList, TodaysMarketNamesMixWithTheOldOnes)
{
    std::string file;
    int code = 1301;
    for (const TMarketName& market : MarketNames)
        file += Line(std::to_string(code++), std::string(market.ListName), Machinery);
    file += Line("1401", "\x95\x9f\x8f\xd8\x82\x70-Board", Machinery);    // full-width Ｑ-Board is no market
    file += Line("1402", "\x83\x76\x83\x89\x83\x43\x83\x80 ", Machinery); // プライム with a blank is none either
    const TKabuList list = ParseKabuList(file, Machinery);
    ASSERT_EQ(list.Entries.size(), MarketNames.size() + 2);
    code = 1301;
    for (const TMarketName& market : MarketNames)
    {
        SCOPED_TRACE(std::string(market.MasterName));
        const TKabuListEntry& entry = list.Entries[static_cast<std::size_t>(code - 1301)];
        EXPECT_EQ(entry.Suffix, market.KeySuffix);
        EXPECT_EQ(entry.MarketName, market.Shown);
        EXPECT_FALSE(entry.Empty);
        EXPECT_EQ(entry.CodeText, std::to_string(code++));
    }
    for (std::size_t i = MarketNames.size(); i < list.Entries.size(); ++i)
    {
        EXPECT_TRUE(list.Entries[i].Empty);
        EXPECT_EQ(list.Entries[i].Suffix, "");
        EXPECT_EQ(list.Entries[i].MarketName, "");
    }
}

TEST(KabuList, LineEndsCommentsAndCtrlZ)
{
    struct Row
    {
        const char* name;
        std::string file;
        std::size_t count;
        std::size_t emptyCount;
    };
    const Row rows[] = {
        {"empty file", "", 0, 0},
        {"empty line is an empty entry", Line("1301", Tosho1, Machinery) + "\r\n" + Line("6301", Tosho1, Machinery), 3, 1},
        {"CR without LF ends a line", "1301,a," + Tosho1 + ",x\r6301,b," + Tosho1 + ",y\r", 2, 0},
        {"bare LF does not end a line", "1301,a," + Tosho1 + ",x\n6301,b," + Tosho1 + ",y\n", 1, 0},
        {"Ctrl-Z ends the file", Line("1301", Tosho1, Machinery) + "\x1a" + Line("6301", Tosho1, Machinery), 1, 0},
        {"comment lines", ";a\r\n;b,c,d,e\r\n" + Line("1301", Tosho1, Machinery), 1, 0},
        {"three fields read an empty market", "1301,a," + Tosho1 + "\r\n", 1, 1},
        {"no comma at all", "1301\r\n", 1, 1},
        {"last line without an end", Line("1301", Tosho1, Machinery) + "6301,a," + Mothers + ",s", 2, 0},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const TKabuList list = ParseKabuList(row.file, AllSectorsText);
        EXPECT_EQ(list.Entries.size(), row.count);
        std::size_t empty = 0;
        for (const TKabuListEntry& entry : list.Entries)
            empty += entry.Empty ? 1 : 0;
        EXPECT_EQ(empty, row.emptyCount);
    }
}

TEST(KabuList, FieldsAreNeverTrimmedAndTheSectorKeepsItsCommas)
{
    const TKabuList list = ParseKabuList(" 1301 , a b ," + Mothers + ",x,y\r\n", AllSectorsText);
    ASSERT_EQ(list.Entries.size(), 1u);
    EXPECT_EQ(list.Entries[0].CodeText, " 1301 ");
    EXPECT_EQ(list.Entries[0].SecondField, " a b ");
    EXPECT_EQ(list.Entries[0].Suffix, ".m");
    EXPECT_EQ(ParseKabuList(" 1301 , a b ," + Mothers + ",x,y\r\n", "x,y").Entries.size(), 1u);
}

TEST(KabuList, StopsAtTheLimitAndSaysSo)
{
    std::string file;
    for (int i = 0; i < 5001; ++i)
        file += Line(std::to_string(1000 + i), Tosho1, Machinery);
    const TKabuList list = ParseKabuList(file, Machinery);
    EXPECT_EQ(list.Entries.size(), MaxKabuListEntries);
    EXPECT_TRUE(list.Truncated);
    EXPECT_EQ(list.Entries.back().CodeText, "5999");

    file.resize(file.size() - Line("6000", Tosho1, Machinery).size());
    EXPECT_FALSE(ParseKabuList(file, Machinery).Truncated) << "exactly 5000 fit";
}

TEST(KabuList, AMissingFileThrows)
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "orvanta_kabu_list_test";
    std::filesystem::create_directories(folder);
    EXPECT_THROW(ReadKabuList(AllSectorsText, (folder / "missing.dat").string()), std::runtime_error);
    const auto path = (folder / "KabuList.dat").string();
    std::ofstream(path, std::ios::binary) << Line("1301", Tosho1, Machinery);
    EXPECT_EQ(ReadKabuList(AllSectorsText, path).Entries.size(), 1u);
}

} // namespace
