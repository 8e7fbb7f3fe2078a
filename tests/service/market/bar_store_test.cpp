// The fetched bars on disk: what goes in comes out by served code, oldest first, once a day;
// the record of answered requests survives a reopen and a compaction; damage is skipped.
#include "service_test_support.h"
#include "market/bar_store.h"

#include <gtest/gtest.h>

namespace {

TRawDay Day(TDate date, std::int64_t close, std::string factor = "1")
{
    return {date, true, close - 100, close + 200, close - 300, close, 1000 + close / 100, close * 10, factor};
}

TBarRequest DatePage(std::string date, int page, std::string next, int rows)
{
    return {TBarRequest::TKind::Date, std::move(date), page, std::move(next), TDate{2026, 3, 10}, rows};
}

size_t ChunkFiles(const std::filesystem::path& data)
{
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(data / "bars"))
        count += entry.path().extension() == ".chunk" ? 1 : 0;
    return count;
}

// Three days of a small market, the middle one over two pages, the last one asked twice with
// a corrected close; an untraded day and a split factor among them.
void FillThreeDays(TBarStore& store)
{
    const TDate d1{2026, 3, 2}, d2{2026, 3, 3}, d3{2026, 3, 4};
    store.Commit(DatePage("2026-03-02", 0, "", 3),
                 {{"72030", Day(d1, 300000)}, {"130A0", Day(d1, 45010)}, {"25935", Day(d1, 1000000)}});
    store.Commit(DatePage("2026-03-03", 0, "k%1 ", 2), {{"72030", Day(d2, 150500, "0.5")}, {"130A0", Day(d2, 45020)}});
    TRawDay untraded{d2, false, 0, 0, 0, 0, 0, 0, "1"};
    store.Commit(DatePage("2026-03-03", 1, "", 1), {{"25935", untraded}});
    store.Commit(DatePage("2026-03-04", 0, "", 1), {{"72030", Day(d3, 151000)}});
    store.Commit(DatePage("2026-03-04", 0, "", 1), {{"72030", Day(d3, 151100)}});
}

TEST(BarStoreTest, RowsComeBackByServedCodeOldestFirstWithTheLaterAnswerWinning)
{
    const std::filesystem::path data = FreshFolder("bars_round_trip");
    {
        TBarStore store(data);
        FillThreeDays(store);
    }
    const std::map<std::string, TRawDays> days = LoadRawDays(data);
    ASSERT_EQ(days.size(), 3u);
    ASSERT_TRUE(days.contains("7203") && days.contains("130A") && days.contains("25935"));
    const TRawDays& toyota = days.at("7203");
    ASSERT_EQ(toyota.size(), 3u);
    EXPECT_EQ(toyota[0], Day({2026, 3, 2}, 300000));
    EXPECT_EQ(toyota[1].AdjFactor, "0.5");
    EXPECT_EQ(toyota[2].Close, 151100);
    const TRawDays& preferred = days.at("25935");
    ASSERT_EQ(preferred.size(), 2u);
    EXPECT_FALSE(preferred[1].Traded);
    EXPECT_EQ(days.at("130A")[1].Close, 45020);

    // Written out of date order (a code query after date queries), still sorted and single.
    {
        TBarStore store(data);
        store.Commit({TBarRequest::TKind::Code, "72030", 0, "", TDate{2026, 3, 10}, 2},
                     {{"72030", Day({2026, 2, 27}, 299000)}, {"72030", Day({2026, 3, 2}, 300000)}});
    }
    const TRawDays again = LoadRawDays(data).at("7203");
    ASSERT_EQ(again.size(), 4u);
    EXPECT_EQ(again[0].Date, (TDate{2026, 2, 27}));
    EXPECT_EQ(again[3].Close, 151100);
}

TEST(BarStoreTest, TheAnsweredRequestsSurviveReopeningAndCompaction)
{
    const std::filesystem::path data = FreshFolder("bars_state");
    std::map<std::string, TRawDays> before;
    {
        TBarStore store(data);
        FillThreeDays(store);
        store.Commit(DatePage("2026-03-05", 0, "next one", 4), {});
        store.Commit({TBarRequest::TKind::Code, "130A0", 0, "", TDate{2026, 3, 10}, 0}, {});
        before = LoadRawDays(data);
    }
    const auto check = [](const TBarStore& store) {
        const std::map<TDate, TQueryState> days = store.Days();
        ASSERT_EQ(days.size(), 4u);
        EXPECT_TRUE(days.at({2026, 3, 3}).Complete);
        EXPECT_EQ(days.at({2026, 3, 3}).Rows, 3);
        EXPECT_EQ(days.at({2026, 3, 4}).Rows, 1); // asked twice: the latest asking counts
        const TQueryState& partial = days.at({2026, 3, 5});
        EXPECT_FALSE(partial.Complete);
        EXPECT_EQ(partial.NextPage, "next one");
        EXPECT_EQ(partial.Pages, 1);
        ASSERT_EQ(store.Codes().size(), 1u);
        EXPECT_TRUE(store.Codes().at("130A0").Complete);
    };
    check(TBarStore(data, TBarStore::TMode::ReadOnly));
    TBarStore reopened(data);
    check(reopened);
    EXPECT_EQ(ChunkFiles(data), 7u);

    reopened.CompactIfOver(7); // not over: left alone
    EXPECT_EQ(ChunkFiles(data), 7u);
    reopened.CompactIfOver(2);
    EXPECT_EQ(ChunkFiles(data), 1u);
    check(reopened);
    EXPECT_EQ(LoadRawDays(data), before);

    // A chunk after the fold still wins over it, and the next fold keeps it.
    reopened.Commit(DatePage("2026-03-04", 0, "", 1), {{"72030", Day({2026, 3, 4}, 152000)}});
    reopened.CompactIfOver(1);
    EXPECT_EQ(LoadRawDays(data).at("7203").back().Close, 152000);
    EXPECT_EQ(ChunkFiles(data), 1u);
}

TEST(BarStoreTest, OneWriterAtATime)
{
    const std::filesystem::path data = FreshFolder("bars_lock");
    TBarStore first(data);
    EXPECT_THROW(TBarStore second(data), std::runtime_error);
}

TEST(BarStoreTest, ADamagedChunkIsSkippedWithAWarningAndTheOthersLoad)
{
    const std::filesystem::path data = FreshFolder("bars_damage");
    EXPECT_TRUE(LoadRawDays(data).empty()) << "no bars folder";
    {
        TBarStore store(data);
        FillThreeDays(store);
    }
    const std::filesystem::path second = data / "bars" / "00000002.chunk";
    const std::string good = ReadBytes(second);
    struct TDamage
    {
        const char* What;
        std::string Bytes;
    };
    std::string flipped = good;
    flipped[flipped.size() / 2] ^= 0x40;
    const std::vector<TDamage> damages = {
        {"cut short", good.substr(0, good.size() - 9)},
        {"a byte changed", flipped},
        {"empty", ""},
        {"another file", "Date,Open\n"},
    };
    for (const TDamage& damage : damages)
    {
        WriteBytes(second, damage.Bytes);
        std::vector<std::string> warnings;
        const std::map<std::string, TRawDays> days = LoadRawDays(data, warnings);
        ASSERT_EQ(warnings.size(), 1u) << damage.What;
        EXPECT_NE(warnings[0].find("00000002.chunk"), std::string::npos);
        EXPECT_EQ(days.at("7203").size(), 2u) << damage.What << ": the second day came only in that chunk";
        // Its request counts as never answered, so the fetch asks again.
        EXPECT_EQ(TBarStore(data).Days().at({2026, 3, 3}).Pages, 0) << damage.What;
    }
}

} // namespace
