#include "market/stock_master.h"

#include "sources/price_import.h"
#include "service_test_support.h"
#include "market/text_convert.h"

#include "screener/kabu_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string_view>
#include <vector>

namespace {

// The sectors as the program's list reader compares them: the shared names in Shift_JIS.
const std::vector<std::string>& SectorsCp932()
{
    static const std::vector<std::string> sectors = [] {
        std::vector<std::string> names;
        for (const TSectorName& sector : SectorNames)
            names.push_back(Utf8ToShiftJis(sector.Name));
        return names;
    }();
    return sectors;
}

std::string Cp932Trace(std::string_view bytes)
{
    std::string hex;
    for (const char c : bytes)
    {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x ", static_cast<unsigned char>(c));
        hex += byte;
    }
    return hex;
}

} // namespace

TEST(SampleKabuList, IsTheProgramsListFormatOverEverySector)
{
    const std::string bytes = ReadBytes(SampleDataFolder() / "KabuList.dat");
    ASSERT_FALSE(bytes.empty());
    // Made from the master: the two never drift apart.
    EXPECT_EQ(bytes, KabuListBytes(SampleMarket().Stocks()));

    std::set<std::string_view> sectors;
    std::set<std::string_view> markets;
    std::set<std::string_view> codes;
    int stocks = 0;
    std::size_t start = 0;
    bool header = true;
    while (start < bytes.size())
    {
        const std::size_t end = bytes.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
        const std::string_view line = std::string_view(bytes).substr(start, end - start);
        start = end + 2;
        ASSERT_EQ(line.find_first_of("\r\n\x1a"), std::string_view::npos) << line;
        if (line.front() == ';')
        {
            EXPECT_TRUE(header) << "comments only at the top";
            continue;
        }
        header = false;
        ++stocks;
        // code,name,market,sector, the sector being the rest of the line.
        const std::size_t c1 = line.find(',');
        const std::size_t c2 = line.find(',', c1 + 1);
        const std::size_t c3 = line.find(',', c2 + 1);
        ASSERT_NE(c3, std::string_view::npos) << line;
        const std::string_view code = line.substr(0, c1);
        const std::string_view market = line.substr(c2 + 1, c3 - c2 - 1);
        const std::string_view sector = line.substr(c3 + 1);
        EXPECT_EQ(code.size(), 4u) << line;
        EXPECT_TRUE(std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }));
        EXPECT_GE(code, "1000") << "the screener stops at codes below 1000";
        EXPECT_TRUE(codes.insert(code).second) << "code listed twice: " << code;
        EXPECT_NE(MarketOfListName(market), nullptr) << line;
        EXPECT_NE(std::find(SectorsCp932().begin(), SectorsCp932().end(), sector), SectorsCp932().end()) << line;
        markets.insert(market);
        sectors.insert(sector);
    }
    EXPECT_GE(stocks, 150);
    EXPECT_EQ(sectors.size(), SectorNames.size());
    EXPECT_GE(markets.size(), 5u);
}

TEST(SampleKabuList, ReadsBackThroughTheProgramsListReader)
{
    const std::string bytes = ReadBytes(SampleDataFolder() / "KabuList.dat");
    const TKabuList all = ParseKabuList(bytes, AllSectorsText);
    EXPECT_EQ(all.Entries.size(), SampleMarket().Stocks().size());
    std::size_t selected = 0;
    for (const std::string& sector : SectorsCp932())
    {
        SCOPED_TRACE(Cp932Trace(sector));
        const TKabuList list = ParseKabuList(bytes, sector);
        EXPECT_FALSE(list.Entries.empty());
        for (const TKabuListEntry& entry : list.Entries)
        {
            EXPECT_FALSE(entry.Empty);
            EXPECT_EQ(entry.CodeText.size(), 4u);
        }
        selected += list.Entries.size();
    }
    EXPECT_EQ(selected, all.Entries.size()) << "every line belongs to exactly one sector";
}

TEST(ParseStockMaster, RefusesLinesThePagesOrTheListCannotCarry)
{
    const std::string tokyo = "\xe6\x9d\xb1\xe8\xa8\xbc\xef\xbc\x91\xe9\x83\xa8"; // 東証１部
    const std::string mining = "\xe9\x89\xb1\xe6\xa5\xad";                        // 鉱業
    struct Row
    {
        const char* name;
        std::string line;
    };
    const Row rows[] = {
        {"three-digit code", "130," + std::string("Name,") + tokyo + "," + mining},
        {"code twice", "1301,A," + tokyo + "," + mining + "\n1301,B," + tokyo + "," + mining},
        {"unknown market", "1301,Name,Tokyo," + mining},
        {"market with a half-width digit", "1301,Name,\xe6\x9d\xb1\xe8\xa8\xbc"
                                           "1\xe9\x83\xa8," +
                                               mining},
        {"sector with a trailing blank", "1301,Name," + tokyo + "," + mining + " "},
        {"half-width kana in the name", "1301,\xef\xbd\xb6\xef\xbe\x8c\xef\xbe\x9e," + tokyo + "," + mining},
        {"a tag character in the name", "1301,A<B," + tokyo + "," + mining},
        {"no sector", "1301,Name," + tokyo},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_THROW(ParseStockMaster(row.line), TMasterError);
    }
    EXPECT_EQ(ParseStockMaster("# comment\r\n1301,Name," + tokyo + "," + mining + "\r\n").size(), 1u);
}

// --make-list wrote control bytes of a name into KabuList.dat: the program's reader ends the
// file at a Ctrl-Z (the stocks after it vanished from screening) and splits a line at a CR
// (an empty entry that stops a run).
TEST(ParseStockMaster, RefusesControlCharactersInNames)
{
    const std::string rest =
        ",\xe6\x9d\xb1\xe8\xa8\xbc\xef\xbc\x91\xe9\x83\xa8,\xe9\x89\xb1\xe6\xa5\xad"; // 東証１部,鉱業
    struct Row
    {
        const char* name;
        char byte;
    };
    const Row rows[] = {{"Ctrl-Z", '\x1a'}, {"CR", '\r'},    {"TAB", '\t'},
                        {"NUL", '\0'},      {"ESC", '\x1b'}, {"DEL", '\x7f'}};
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::string master =
            "# stocks\n1301,Fine" + rest + "\n1332,Bad" + std::string(1, row.byte) + "Name" + rest + "\n";
        try
        {
            ParseStockMaster(master);
            ADD_FAILURE() << "accepted";
        }
        catch (const TMasterError& error)
        {
            const std::string what = error.what();
            EXPECT_EQ(what.rfind("3 行目: ", 0), 0u) << what;
            EXPECT_EQ(
                std::count_if(what.begin(), what.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }), 0)
                << "the byte is named, not written";
        }
    }
}

TEST(MakeKabuList, ANameWithAControlCharacterLeavesTheListAsItWas)
{
    const std::filesystem::path data = FreshFolder("make_list_control");
    WriteBytes(data / "stocks.csv",
               "1301,Ctrl\x1aZ,\xe6\x9d\xb1\xe8\xa8\xbc\xef\xbc\x91\xe9\x83\xa8,\xe9\x89\xb1\xe6\xa5\xad\n");
    WriteBytes(data / "KabuList.dat", "; the old list\r\n");
    EXPECT_THROW(MakeKabuList(data), std::runtime_error);
    EXPECT_EQ(ReadBytes(data / "KabuList.dat"), "; the old list\r\n");
}

// The list was written through a fixed "KabuList.dat.tmp" opened without care: a link planted
// under that name made --make-list overwrite whatever it pointed at.
TEST(MakeKabuList, NeverWritesThroughAPlantedLink)
{
    const std::filesystem::path data = FreshFolder("make_list_link");
    std::filesystem::copy_file(SampleDataFolder() / "stocks.csv", data / "stocks.csv");
    WriteBytes(data / "victim", "precious");
    std::filesystem::create_symlink(data / "victim", data / "KabuList.dat.tmp");
    MakeKabuList(data);
    EXPECT_EQ(ReadBytes(data / "victim"), "precious");
    EXPECT_EQ(ReadBytes(data / "KabuList.dat").rfind("; KabuList.dat", 0), 0u);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(data))
        ++files;
    EXPECT_EQ(files, 4u) << "stocks.csv, victim, the planted link and the list: no temporary file left";
}
